// packetfifo: placeholder while it is written.
