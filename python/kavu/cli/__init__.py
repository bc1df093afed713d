"""The `kavu` command line: kavu.cli.commands parses the options, runs a
command and turns its failure into one error line and an exit code."""
