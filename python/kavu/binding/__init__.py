"""The bottom floor: the extension (kavu._kavu) that runs the module inside
the embedded host, a function for every routine, their results and the
host's messages as exceptions and warnings."""
