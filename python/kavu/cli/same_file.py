"""An output that is one of the command's own inputs is refused before
anything is read or written: under the same name, or through a hard or
symbolic link, replacing it would destroy the input the run reads from."""

import os

from .exits import EXIT_USAGE, CliError


def _identity(path):
    try:
        st = os.stat(path)  # follows symbolic links to the file itself
    except OSError:  # absent or unreadable: the run says so in its own words
        return None
    return st.st_dev, st.st_ino


def refuse_inputs_as_outputs(outputs, inputs):
    """CliError (exit 2) naming the first output that is the same file as an
    input; None entries (an option not given) are skipped."""
    files = {_identity(p): p for p in reversed(inputs) if p is not None}
    files.pop(None, None)
    for output in (p for p in outputs if p is not None):
        same = files.get(_identity(output))
        if same is not None:
            through = (
                ""
                if os.path.abspath(same) == os.path.abspath(output)
                else (f" (the same file as {same})")
            )
            raise CliError(
                f"{output} is an input and an output of this command{through}", EXIT_USAGE
            )
