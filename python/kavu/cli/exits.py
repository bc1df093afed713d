"""Exit codes of the command line and the error type of its own refusals
(kavu.cli.error_lines gives the others' codes): every failure a user can
cause ends as one line on stderr and one of these."""

EXIT_OK = 0
EXIT_FAILURE = 1  # the segmentation itself failed (a routine refused, memory)
EXIT_USAGE = 2  # bad options, or options that do not fit the input
EXIT_INPUT = 3  # an input cannot be read
EXIT_OUTPUT = 4  # an output cannot be written
EXIT_INTERRUPTED = 130


class CliError(Exception):
    """A failure reported as `kavu <command>: error: <message>`."""

    def __init__(self, message, code=EXIT_FAILURE):
        super().__init__(message)
        self.code = code
