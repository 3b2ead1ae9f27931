// unix_socket: placeholder while it is written.
