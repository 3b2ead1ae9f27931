// unix_streamserial: placeholder while it is written.
