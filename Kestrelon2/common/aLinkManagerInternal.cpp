// aLinkManagerInternal: placeholder while it is written.
