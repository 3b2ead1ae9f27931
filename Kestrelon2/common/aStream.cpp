// aStream: placeholder while it is written.
