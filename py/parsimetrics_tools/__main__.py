import sys

from .cli import main

# Guarded: worker processes import the main module under another name.
if __name__ == "__main__":
    sys.exit(main())
