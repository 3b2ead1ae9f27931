// VirtualModule: placeholder while it is written.
