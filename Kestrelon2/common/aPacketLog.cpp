// aPacketLog: placeholder while it is written.
