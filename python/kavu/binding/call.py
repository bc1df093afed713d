"""kavu.call: any routine with the host's own calling convention."""

import warnings
from typing import Any, Union

from .. import _kavu
from .host_messages import Error, KavuWarning

#: Pass as a positional argument or keyword value to request that output.
OUT = _kavu.OUT


class CallResult:
    """The function value and the outputs of one routine call.

    ``value`` is the function value; ``args`` has one entry per positional
    argument, the output where ``OUT`` was passed and None elsewhere;
    ``keywords`` maps each keyword passed as ``OUT`` (spelled as passed) to its
    output. An output the routine left undefined is None. ``result[i]`` and
    ``result["name"]`` (any case) reach the same entries.
    """

    __slots__ = ("value", "args", "keywords")

    def __init__(self, value: Any, args: tuple, keywords: dict[str, Any]):
        self.value = value
        self.args = args
        self.keywords = keywords

    def __getitem__(self, key: Union[int, str]) -> Any:
        if isinstance(key, str):
            for name, output in self.keywords.items():
                if name.upper() == key.upper():
                    return output
            raise KeyError(key)
        return self.args[key]

    def __repr__(self):
        return f"CallResult(value={self.value!r}, args={self.args!r}, keywords={self.keywords!r})"


def invoke(routine, args, arg_names, keywords, stacklevel):
    """Runs one call; warnings are attributed `stacklevel` frames up."""
    value, args_out, keywords_out, messages, error = _kavu.call(routine, args, arg_names, keywords)
    for message in messages:
        warnings.warn(KavuWarning(*message), stacklevel=stacklevel + 1)
    if error is not None:
        raise Error(*error)
    return CallResult(value, tuple(args_out), keywords_out)


def call(name: str, *args: Any, **keywords: Any) -> CallResult:
    """Calls the routine ``name`` (for example ``"KAVU_COMPUTE_REG_INFO"``).

    Positional arguments and keywords are passed as the host passes them:
    numpy arrays (dims are the numpy shape reversed, so an array of shape
    (nbands, nrows, ncols) is a band-sequential image), numbers and strings.
    Arrays of a supported dtype that are C-contiguous are lent to the routine
    in place, so a routine that changes an input changes the caller's array
    (the tiled mode renumbers ``IN_LABEL_IMG``; a read-only array is copied
    first). Keywords are matched without regard to case and may be shortened
    to a unique prefix; a keyword whose value is None is left out. Pass
    ``kavu.OUT`` for an output argument or keyword: it comes back in the
    returned :class:`CallResult`.

    Raises :class:`kavu.Error` when the call is aborted; messages that the host
    prints and goes on from are issued as :class:`kavu.KavuWarning`.
    """
    return invoke(name, args, (), keywords, stacklevel=2)


def routines() -> list[tuple[str, int, int, int, bool]]:
    """The registered routines as (name, arg_min, arg_max, flags, is_function)."""
    return _kavu.routines()
