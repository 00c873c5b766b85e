"""``tarnvale view``: runs in the browser.

A local web server (FastAPI on uvicorn) hands a page the chromatograms, spectra,
ion-mobility maps, extracted-ion traces and channels of the runs named on the
command line, computed by the core and sent as exact JSON; the page draws them
with the plotly.js that the plotly package ships.  Needs the ``view`` extra.
"""

from .app import create_app
from .served import ServedRun
from .server import ServeOptions, serve

__all__ = ["ServeOptions", "ServedRun", "create_app", "serve"]
