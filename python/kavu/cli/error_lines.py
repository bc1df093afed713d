"""What a user reads of a failure they can cause: one line and an exit code,
named as the command line spells its options. The error lines of the commands
and the error cells of kavu.batch's table say it the same way."""

import errno

from ..binding.host_messages import Error
from ..errors import (
    ArgumentError,
    InputError,
    NotASchedule,
    NotLabels,
    OptionError,
    OutputError,
    ScheduleTooLarge,
)
from .exits import EXIT_FAILURE, EXIT_INPUT, EXIT_OUTPUT, EXIT_USAGE, CliError

# Errors of a write that cannot finish: the output cannot be written.
FULL_ERRNOS = (errno.ENOSPC, errno.EDQUOT, errno.EFBIG)


# The keyword names whose flag is not the keyword with dashes.
FLAGS = {"lambda_threshold": "--lambda", "percent": "--stretch"}


def flag(option):
    """The command line's spelling of a keyword argument."""
    return FLAGS.get(option, "--" + option.replace("_", "-"))


def describe(error, output=None):
    """(the line a user reads, exit code) of a failure a user can cause, or
    None for anything else."""
    if isinstance(error, CliError):
        return str(error), error.code
    if isinstance(error, OptionError):  # named as the command line spells the option
        return f"{flag(error.option)} {error.shown}{error.joint}{error.reason}", EXIT_USAGE
    if isinstance(error, NotLabels):
        return f"LABELS must be an integer label raster: {error.path} {error.holds}", EXIT_USAGE
    if isinstance(error, ScheduleTooLarge):
        return (
            f"{error.message}; kavu segment --regions N chooses the level of an image of "
            "any size, tile by tile",
            EXIT_USAGE,
        )
    if isinstance(error, ArgumentError):
        return str(error), EXIT_USAGE
    if isinstance(error, NotASchedule):
        why = (
            "written by an older kavu; make it again with kavu schedule"
            if error.detail is None
            else f"not a schedule written by kavu schedule ({error.detail})"
        )
        return f"cannot read schedule {error.path}: {why}", EXIT_INPUT
    if isinstance(error, InputError):
        return str(error), EXIT_INPUT
    if isinstance(error, OutputError):
        return str(error), EXIT_OUTPUT
    if isinstance(error, Error):  # a routine refused: its own message names it
        # The only files the routines write are the work files beside OUT.
        return error.text, (
            EXIT_OUTPUT if error.name == "KAVU_MBLK_SEGMENT_FILE_ERR" else EXIT_FAILURE
        )
    if isinstance(error, MemoryError):
        from ..tiled.pipeline import OutOfMemory

        detail = f": {error}" if str(error) else ""
        if isinstance(error, OutOfMemory):
            return (
                f"out of memory{detail}, with {error.workers} workers holding a window "
                "each; try fewer --workers or a smaller --tile",
                EXIT_FAILURE,
            )
        return f"out of memory{detail}; try a smaller --tile", EXIT_FAILURE
    if isinstance(error, OSError) and error.errno in FULL_ERRNOS:
        return f"cannot write {output or 'the output'}: {error.strerror}", EXIT_OUTPUT
    return None


def as_one_line(error):
    """Any other failure: its type and message on one line."""
    return f"{type(error).__name__}: {' '.join(str(error).split())}", EXIT_FAILURE
