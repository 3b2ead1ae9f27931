// aStreamsocket: placeholder while it is written.
