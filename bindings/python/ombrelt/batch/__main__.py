"""python3 -m ombrelt.batch: see ``ombrelt.batch._cli``."""

import sys

from ._cli import main

# Worker processes are spawned and import this module again under another
# name: only the process that was started runs the batch.
if __name__ == "__main__":
    sys.exit(main())
