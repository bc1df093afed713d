"""What a user reads of a failure they can cause: one line and an exit code,
named as the command line spells its options. `kavu segment`, `kavu batch` and
the error cells of kavu.batch's table say it the same way."""

import errno

from .binding.host_messages import Error
from .errors import EXIT_FAILURE, EXIT_OUTPUT, EXIT_USAGE, CliError

# Errors of a write that cannot finish: the output cannot be written.
FULL_ERRNOS = (errno.ENOSPC, errno.EDQUOT, errno.EFBIG)


def describe(error, output=None):
    """(the line a user reads, exit code) of a failure a user can cause, or
    None for anything else."""
    from .tiled.run import OptionError
    if isinstance(error, CliError):
        return str(error), error.code
    if isinstance(error, OptionError):      # named as the command line spells the option
        flag = "--" + ("lambda" if error.option == "lambda_threshold" else
                       error.option.replace("_", "-"))
        return f"{flag} {error.value}: {error.reason}", EXIT_USAGE
    if isinstance(error, Error):            # a routine refused: its own message names it
        # The only files the routines write are the work files beside OUT.
        return error.text, (EXIT_OUTPUT if error.name == "KAVU_MBLK_SEGMENT_FILE_ERR"
                            else EXIT_FAILURE)
    if isinstance(error, MemoryError):
        from .tiled.pipeline import OutOfMemory
        detail = f": {error}" if str(error) else ""
        if isinstance(error, OutOfMemory):
            return (f"out of memory{detail}, with {error.workers} workers holding a window "
                    "each; try fewer --workers or a smaller --tile", EXIT_FAILURE)
        return f"out of memory{detail}; try a smaller --tile", EXIT_FAILURE
    if isinstance(error, OSError) and error.errno in FULL_ERRNOS:
        return f"cannot write {output or 'the output'}: {error.strerror}", EXIT_OUTPUT
    return None


def as_one_line(error):
    """Any other failure: its type and message on one line."""
    return f"{type(error).__name__}: {' '.join(str(error).split())}", EXIT_FAILURE
