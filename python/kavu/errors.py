"""What goes wrong in the package, in the caller's words: the argument's
keyword name and value, the file's name. Every failure a caller can cause is
one of these (or a kavu.Error of a routine the host refused); how the command
line spells them, as flags and exit codes, is its own business (kavu.cli).

ArgumentError and OptionError are ValueErrors; InputError and OutputError
are OSErrors whose message is the whole story (no errno)."""


class ArgumentError(ValueError):
    """Arguments that do not fit each other or the input (two inputs that
    would be written to one output, labels of another size than the image)."""


class OptionError(ArgumentError):
    """An argument out of range or unfit for the input: its keyword name
    (`option`), its value and the reason. `shown` is the value as the message
    writes it (the value itself unless given)."""

    def __init__(self, option, value, reason, shown=None, joint=": "):
        self.option, self.value, self.reason = option, value, reason
        self.shown = value if shown is None else shown
        self.joint = joint
        super().__init__(f"{option}={value!r}{joint}{reason}")

    def __reduce__(self):
        return (type(self), (self.option, self.value, self.reason, self.shown, self.joint))


class NotLabels(ArgumentError):
    """A raster given as labels that is not an integer label raster: `path`
    and what it `holds` instead ("has 3 band(s) of float32")."""

    def __init__(self, argument, path, holds):
        self.argument, self.path, self.holds = argument, path, holds
        super().__init__(f"{argument} must be an integer label raster: {path} {holds}")

    def __reduce__(self):
        return (type(self), (self.argument, self.path, self.holds))


class ScheduleTooLarge(ArgumentError):
    """A whole-image schedule that the free memory cannot hold; the tiled
    segmentation chooses a level by a number of regions on any image."""

    def __init__(self, message):
        self.message = message
        super().__init__(
            f"{message}; the tiled segmentation's regions=N chooses the level of "
            "an image of any size, tile by tile"
        )

    def __reduce__(self):
        return (type(self), (self.message,))


class Cancelled(Exception):
    """A run that its progress callback stopped (by returning False)."""


class FileError(OSError):
    """A file's failure: the message names the file (`path`)."""

    def __init__(self, message, path=None):
        super().__init__(message)
        self.path = path

    def __str__(self):
        return self.args[0]

    def __reduce__(self):
        return (type(self), (self.args[0], self.path))


class InputError(FileError):
    """An input that cannot be read, or not segmented as it is."""


class NotASchedule(InputError):
    """A schedule file that make_schedule did not write (`detail`: why it
    cannot be read), or that an older kavu wrote (`detail` None)."""

    def __init__(self, path, detail=None):
        self.detail = detail
        why = (
            "written by an older kavu; make it again with make_schedule"
            if detail is None
            else f"not a schedule written by make_schedule ({detail})"
        )
        super().__init__(f"cannot read schedule {path}: {why}", path)

    def __reduce__(self):
        return (type(self), (self.path, self.detail))


class OutputError(FileError):
    """An output that cannot be written."""
