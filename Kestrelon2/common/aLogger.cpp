// aLogger: placeholder while it is written.
