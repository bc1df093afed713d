"""`python3 -m kavu ...` runs the command line."""

from .cli.commands import main

raise SystemExit(main())
