"""`python3 -m kavu ...` runs the command line."""

from .cli import main

raise SystemExit(main())
