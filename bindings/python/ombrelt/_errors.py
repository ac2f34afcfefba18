"""The exceptions of the package."""


class Error(Exception):
    """A call of the library failed; ``str(error)`` is the library's message."""


class Cancelled(Error):
    """The call was cancelled (``Separator.cancel()`` from another thread, or a
    progress callable that returned true); nothing was written."""
