"""``python -m tarnvale_tools`` runs the ``tarnvale`` command."""

from .cli import main

raise SystemExit(main())
