"""tavrin-ombrelt for Python: split songs into vocals, other, bass and drums
stems, plus an instrumental mix.

    import ombrelt

    with ombrelt.Separator() as separator:          # the default models
        result = separator.separate("song.mp3", "stems", format="flac")
        print(result["vocals"])                     # stems/song_vocals.flac

        stems = separator.separate_array(samples, 48000)   # (frames, channels)
        vocals = stems["vocals"]                    # (frames', 2) at 44100 Hz

Errors raise ``ombrelt.Error`` with the library's message. Ctrl-C during a
call cancels it cleanly (no files are left) and raises KeyboardInterrupt.
``ombrelt.batch`` separates whole folders on a Dask cluster.
"""

from ._errors import Cancelled, Error
from ._library import LibraryNotFound
from ._separator import STEM_RATE, Separator, probe, set_log_level, version
from ._tables import FORMATS, OUTPUTS

__all__ = [
    "Cancelled",
    "Error",
    "FORMATS",
    "LibraryNotFound",
    "OUTPUTS",
    "STEM_RATE",
    "Separator",
    "probe",
    "set_log_level",
    "version",
]
