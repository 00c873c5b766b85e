"""The access token every request must carry, and the headers every response gets.

The token is random (``secrets``), printed in the page's address, and compared in
constant time.  A request shows it as the query parameter ``token`` or the header
``X-Tarnvale-Token``; without it the answer is 403, for the page, its scripts and
the API alike.
"""

from __future__ import annotations

import hmac
import json
import secrets
from urllib.parse import parse_qsl

from starlette.types import ASGIApp, Message, Receive, Scope, Send

TOKEN_HEADER = "X-Tarnvale-Token"
TOKEN_QUERY = "token"

# Everything the page loads comes from the viewer itself; plotly.js needs inline
# styles, but neither inline scripts nor eval.
SECURITY_HEADERS = [
    (b"content-security-policy",
     b"default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; "
     b"connect-src 'self'; font-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"),
    (b"referrer-policy", b"no-referrer"),
    (b"x-content-type-options", b"nosniff"),
]
# Answers are not kept by the browser unless they say otherwise (the page's scripts do).
NO_STORE = (b"cache-control", b"no-store")


def new_token() -> str:
    return secrets.token_urlsafe(24)


def token_of(scope: Scope) -> str | None:
    for name, value in scope.get("headers", ()):
        if name == TOKEN_HEADER.lower().encode():
            return str(value.decode("latin-1"))
    query: bytes = scope.get("query_string", b"")
    for key, text in parse_qsl(query.decode("latin-1"), keep_blank_values=True):
        if key == TOKEN_QUERY:
            return text
    return None


class TokenGuard:
    """ASGI middleware: 403 unless the request carries the token; security headers on
    every response."""

    def __init__(self, app: ASGIApp, token: str) -> None:
        self.app = app
        self.token = token.encode()

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return

        async def send_with_headers(message: Message) -> None:
            if message["type"] == "http.response.start":
                headers = [*message.get("headers", []), *SECURITY_HEADERS]
                if not any(name.lower() == NO_STORE[0] for name, _ in headers):
                    headers.append(NO_STORE)
                message["headers"] = headers
            await send(message)

        given = token_of(scope)
        if given is None or not hmac.compare_digest(given.encode("utf-8", "surrogateescape"), self.token):
            await refuse(send_with_headers, "missing" if given is None else "wrong")
            return
        await self.app(scope, receive, send_with_headers)


async def refuse(send: Send, how: str) -> None:
    text = json.dumps({"error": f"{how} access token: open the address tarnvale view printed"}).encode()
    await send({"type": "http.response.start", "status": 403,
                "headers": [(b"content-type", b"application/json"), (b"content-length", str(len(text)).encode())]})
    await send({"type": "http.response.body", "body": text})
