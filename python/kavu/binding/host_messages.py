"""Errors and warnings that the host reports for a routine call."""


class _HostMessage:
    """What a message of the host carries: its name, the routine, the text."""

    def __init__(self, name, routine, text):
        super().__init__(text)
        self.name = name
        self.routine = routine
        self.text = text

    def __reduce__(self):
        return (type(self), (self.name, self.routine, self.text))


class Error(_HostMessage, Exception):
    """A routine call that the module or the host aborted.

    ``name`` is the message name (``KAVU_MBLK_SEGMENT_NOT_2D``, or one of the
    host's own), ``routine`` the routine being called (``KAVU_WATERSHED``) and
    ``text`` the message as the host prints it
    ("KAVU_WATERSHED: LEVELS needs to be 2D.").
    """


class KavuWarning(_HostMessage, UserWarning):
    """A message the host printed and then went on (print-and-return), or one
    the package gives about a likely mistake in a call that it still makes
    (``KAVU_IMAGE_CHANNELS_LAST``, ``KAVU_LABELS_16BIT_RUN_OUT``)."""
