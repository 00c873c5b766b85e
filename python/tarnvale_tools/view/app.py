"""The viewer's web application: the page, its scripts, and the JSON API, behind
the access token."""

from __future__ import annotations

from collections.abc import Sequence
from functools import cache
from importlib import resources
from typing import Any

from fastapi import FastAPI
from fastapi.openapi.utils import get_openapi
from fastapi.responses import HTMLResponse, Response
from starlette.exceptions import HTTPException
from starlette.types import ASGIApp

from . import api
from .security import TOKEN_HEADER, TOKEN_QUERY, TokenGuard
from .served import ServedRun

TITLE = "tarnvale view"
API_DESCRIPTION = (
    "The JSON API of `tarnvale view`. Every request carries the access token that the command printed, "
    "as the query parameter `token` or the header `X-Tarnvale-Token`; without it the answer is 403. "
    "Arrays are named as tarnvale_tools names them. Numbers are exact: the shortest text that reads back "
    "to the same double (a float32 intensity as its value widened to double); a value JSON cannot hold "
    "(NaN, infinity) is null. Errors are JSON objects {\"error\": \"...\"}: 400 for a bad parameter, "
    "422 when the run's data cannot be read."
)

# The page's files, by the name the page asks for; the name only selects an entry here.
STATIC_FILES = {
    "viewer.js": ("tarnvale_tools.view", "static/viewer.js", "text/javascript"),
    "viewer.css": ("tarnvale_tools.view", "static/viewer.css", "text/css"),
    "plotly.min.js": ("plotly", "package_data/plotly.min.js", "text/javascript"),
}


@cache
def static_file(name: str) -> bytes:
    package, path, _ = STATIC_FILES[name]
    resource = resources.files(package)
    for part in path.split("/"):
        resource = resource / part
    return resource.read_bytes()


def page_html(token: str) -> str:
    template = static_file_text("index.html")
    return template.replace("{{TOKEN}}", token)


@cache
def static_file_text(name: str) -> str:
    return (resources.files("tarnvale_tools.view") / "static" / name).read_text(encoding="utf-8")


def create_app(runs: Sequence[ServedRun], token: str) -> ASGIApp:
    """The application serving `runs` to requests that carry `token`."""
    for name in STATIC_FILES:  # read now, so that the first page is not kept waiting for them
        static_file(name)
    app = FastAPI(title=TITLE, description=API_DESCRIPTION, version="1", openapi_url="/api/openapi.json",
                  docs_url=None, redoc_url=None)
    api.add_error_handlers(app)
    api.add_routes(app, runs)

    @app.get("/", include_in_schema=False)
    def page() -> HTMLResponse:
        return HTMLResponse(page_html(token))

    @app.get("/static/{name}", include_in_schema=False)
    def static(name: str) -> Response:
        if name not in STATIC_FILES:
            raise HTTPException(404, f"no file {name!r}")
        # Fixed for the server's life, and their addresses carry its token: the browser may
        # keep them, and with them the compiled plotly.js, for the page's reloads.
        return Response(static_file(name), media_type=STATIC_FILES[name][2],
                        headers={"Cache-Control": "private, max-age=86400, immutable"})

    app.openapi = lambda: openapi_schema(app)  # type: ignore[method-assign]
    return TokenGuard(app, token)


def openapi_schema(app: FastAPI) -> dict[str, Any]:
    """FastAPI's description, with the token as the security of every operation and
    400 (not FastAPI's 422) as the answer to invalid parameters."""
    if app.openapi_schema:
        return app.openapi_schema
    schema = get_openapi(title=app.title, version=app.version, description=app.description, routes=app.routes)
    schema["components"]["securitySchemes"] = {
        "token_header": {"type": "apiKey", "in": "header", "name": TOKEN_HEADER},
        "token_query": {"type": "apiKey", "in": "query", "name": TOKEN_QUERY},
    }
    schema["security"] = [{"token_header": []}, {"token_query": []}]
    for path in schema["paths"].values():
        for operation in path.values():
            responses = operation["responses"]
            validation = responses.get("422", {}).get("content", {}).get("application/json", {}).get("schema", {})
            if validation.get("$ref", "").endswith("/HTTPValidationError"):
                del responses["422"]
    for name in ("HTTPValidationError", "ValidationError"):
        schema["components"]["schemas"].pop(name, None)
    app.openapi_schema = schema
    return schema
