"""Scriptable HTTP server for end-to-end tests.

Serves the files of a folder and, per path, scripted faults: a status code, a required Basic
credential, a body cut short of its Content-Length, a body trickled slowly for a bounded
time, a connection reset, a Last-Modified header, an ETag with ranges of the file (206 for
"Range: bytes=N-" when If-Range names it), bodies cut at planned offsets request by
request, a silence after the headers. Every request and every body byte sent is
recorded. The server
stops by itself after `lifetime` seconds, and no response takes longer than its trickle
bound, because WinInet waits forever on a silent server.
"""
import base64
import email.utils
import errno
import http.server
import os
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import Dict, List, Optional, Tuple, Union


@dataclass
class Fault:
    """What the server does for one path instead of (or on top of) serving the file."""
    status: Optional[int] = None            # answer with this status (body: `body` or a short text)
    body: Optional[bytes] = None            # serve these bytes instead of the file
    auth: Optional[Tuple[str, str]] = None  # (user, password) required as Basic credentials
    truncate_at: Optional[int] = None       # send Content-Length in full, only this many bytes, then FIN
    reset_at: Optional[int] = None          # as truncate_at, then reset the connection (RST)
    trickle: Optional[Tuple[int, float, float]] = None  # (bytes per step, seconds per step, give up after s)
    last_modified: Union[None, str, datetime] = None
    content_length: bool = True             # False: no Content-Length header, close to end the body
    headers: Dict[str, str] = field(default_factory=dict)
    etag: Optional[str] = None              # sent with the file; with `ranges`, what If-Range must name
    ranges: bool = False                    # "Range: bytes=N-" gets 206 and the rest (when If-Range matches)
    if_range: bool = True                   # False: the rest is sent whatever If-Range names
    cuts: List[int] = field(default_factory=list)  # the n-th body sent stops at file offset cuts[n], then FIN
    silence: Optional[Tuple[int, float]] = None    # (bytes sent, seconds of silence) before closing
    mute: Optional[float] = None            # take the request, answer nothing for this long, close
    delay: float = 0.0                      # hold the response this long (seconds) first
    bodies: Optional[List[bytes]] = None    # the n-th request gets bodies[n] (the last one after)
    chunked: bool = False                   # Transfer-Encoding: chunked (cut by truncate_at: no last chunk)
    length: Optional[int] = None            # announce this Content-Length instead of the body's
    endless: Optional[float] = None         # after the body, filler for this long (seconds) or until the client goes


@dataclass
class Request:
    method: str
    path: str
    headers: Dict[str, str]   # names lower-cased
    body: bytes = b""

    def header(self, name: str) -> Optional[str]:
        return self.headers.get(name.lower())


def http_date(value: Union[str, datetime]) -> str:
    if isinstance(value, str):
        return value
    if value.tzinfo is None:
        value = value.replace(tzinfo=timezone.utc)
    return email.utils.format_datetime(value.astimezone(timezone.utc), usegmt=True)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "e2e"
    sys_version = ""

    def log_message(self, fmt, *args):  # keep test output for assertions, not access logs
        pass

    def _record(self, body=b""):
        req = Request(self.command, self.path, {k.lower(): v for k, v in self.headers.items()}, body)
        with self.server.owner._lock:
            self.server.owner._requests.append(req)
        return req

    def _read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def do_GET(self):
        self._record()
        self._answer(send_body=True)

    def do_HEAD(self):
        self._record()
        self._answer(send_body=False)

    def do_POST(self):
        self._record(self._read_body())
        self._answer(send_body=True, default_body=b"OK\n")

    do_PUT = do_POST

    def _answer(self, send_body, default_body=None):
        owner = self.server.owner
        path = urllib.parse.urlsplit(self.path).path
        fault = owner.fault_for(path) or Fault()
        if fault.mute is not None:
            time.sleep(fault.mute)
            return self._close(reset=False)
        turn = owner.next_turn(path)
        if fault.delay:
            time.sleep(min(fault.delay, 30.0))

        if fault.auth and self.headers.get("Authorization") != _basic(*fault.auth):
            return self._simple(401, b"Unauthorized\n", {"WWW-Authenticate": 'Basic realm="e2e"'}, send_body)
        if fault.status is not None and fault.status >= 300:
            return self._simple(fault.status, fault.body if fault.body is not None
                                else f"status {fault.status}\n".encode(), fault.headers, send_body)

        body = fault.body
        if fault.bodies:
            body = fault.bodies[min(turn, len(fault.bodies) - 1)]
        if body is None:
            body = default_body if default_body is not None else owner.file_bytes(path)
        if body is None:
            return self._simple(404, b"Not found\n", {}, send_body)

        start = self._range_start(fault, len(body))
        whole = len(body)
        body = body[start:]
        self.send_response(206 if start else (fault.status or 200))
        self.send_header("Content-Type", "application/octet-stream")
        if start:
            self.send_header("Content-Range", f"bytes {start}-{whole - 1}/{whole}")
        if fault.etag is not None:
            self.send_header("ETag", fault.etag)
        if fault.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif fault.length is not None:
            self.send_header("Content-Length", str(fault.length))
        elif fault.content_length and fault.endless is None:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        if fault.last_modified is not None:
            self.send_header("Last-Modified", http_date(fault.last_modified))
        for k, v in fault.headers.items():
            self.send_header(k, v)
        self.end_headers()
        if not send_body:
            return
        cut = fault.truncate_at if fault.truncate_at is not None else fault.reset_at
        with owner._lock:
            planned = fault.cuts.pop(0) if fault.cuts else None
        if planned is not None:
            cut = max(0, planned - start)
        if fault.silence:
            sent, seconds = fault.silence
            self._write(path, body[:sent])
            self.wfile.flush()
            time.sleep(seconds)
            return self._close(reset=False)
        if fault.chunked or fault.endless is not None:
            return self._stream(path, body if cut is None else body[:cut], fault)
        complete = True
        if fault.trickle:
            complete = self._trickle(path, body[:cut] if cut is not None else body, *fault.trickle)
        else:
            self._write(path, body[:cut] if cut is not None else body)
        # A body that arrived whole leaves the connection open for the next request, as a
        # real server does; closing it under a client's kept-alive connection makes a race.
        if (cut is not None and cut < len(body)) or not complete:
            self._close(reset=fault.reset_at is not None)

    def _range_start(self, fault, size) -> int:
        """Where the answer starts: the asked offset of a range of the file the validator names."""
        asked = self.headers.get("Range", "")
        if not fault.ranges or not asked.startswith("bytes=") or not asked.endswith("-"):
            return 0
        if_range = self.headers.get("If-Range")
        if fault.if_range and if_range is not None and if_range != fault.etag:
            return 0
        try:
            start = int(asked[6:-1])
        except ValueError:
            return 0
        return start if 0 < start < size else 0

    def _write(self, path, data):
        self.wfile.write(data)
        with self.server.owner._lock:
            self.server.owner.sent[path] = self.server.owner.sent.get(path, 0) + len(data)

    def _stream(self, path, body, fault):
        """A chunked body (with its last chunk only when it is whole), or a body followed by
        filler until `endless` seconds have passed or the client has gone; then the close."""
        whole = not fault.chunked or fault.truncate_at is None
        try:
            for pos in range(0, len(body), 4096):
                part = body[pos:pos + 4096]
                self._write(path, (b"%x\r\n" % len(part) + part + b"\r\n") if fault.chunked else part)
            if fault.endless is not None:
                filler = b"\0" * 65536
                deadline = time.monotonic() + fault.endless
                while time.monotonic() < deadline:
                    self._write(path, (b"10000\r\n" + filler + b"\r\n") if fault.chunked else filler)
            elif fault.chunked and whole:
                self.wfile.write(b"0\r\n\r\n")
                self.wfile.flush()
                return
        except OSError:
            pass
        self._close(reset=False)

    def _trickle(self, path, body, step, interval, give_up) -> bool:
        """Writes `body` a step at a time; False when the bound cut it short."""
        deadline = time.monotonic() + give_up
        for pos in range(0, len(body), step):
            if pos:
                time.sleep(interval)
            if time.monotonic() > deadline:
                return False
            self._write(path, body[pos:pos + step])
            self.wfile.flush()
        return True

    def _close(self, reset):
        self.wfile.flush()
        self.close_connection = True
        if reset:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            try:
                self.connection.shutdown(socket.SHUT_WR)
            except OSError:
                pass
        self.connection.close()

    def _simple(self, status, body, headers, send_body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        for k, v in headers.items():
            self.send_header(k, v)
        self.end_headers()
        if send_body:
            self.wfile.write(body)


def _basic(user, password):
    return "Basic " + base64.b64encode(f"{user}:{password}".encode("latin-1")).decode("ascii")


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    tls: Optional[ssl.SSLContext] = None

    def handle_error(self, request, client_address):
        # Clients that reset or drop a connection are part of the tests, not failures.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)

    def finish_request(self, request, client_address):
        if self.tls is None:
            return super().finish_request(request, client_address)
        # The handshake runs in the connection's own thread; a client that refuses the
        # certificate ends it there (an SSLError, an OSError), and no request is recorded.
        with self.tls.wrap_socket(request, server_side=True) as conn:
            super().finish_request(conn, client_address)


class ScriptedHttpServer:
    """HTTP server on 127.0.0.1 serving `root`; use as a context manager or start()/stop().
    With `tls` (a server-side ssl.SSLContext holding its certificate) it serves https."""

    def __init__(self, root, port=0, host="127.0.0.1", lifetime=300.0, tls: Optional[ssl.SSLContext] = None):
        self.root = os.path.abspath(root)
        self.host, self.port, self.lifetime, self.tls = host, port, lifetime, tls
        self._faults: Dict[str, Fault] = {}
        self._turns: Dict[str, int] = {}
        self._requests: List[Request] = []
        self.sent: Dict[str, int] = {}    # body bytes sent, by URL path
        self._lock = threading.Lock()
        self._httpd = None
        self._threads = []

    # --- scripting
    def script(self, path: str, fault: Optional[Fault] = None, **kw) -> None:
        """Sets the behaviour for one URL path (e.g. "/managedfiles/Kassa.bin")."""
        self._faults[path] = fault or Fault(**kw)

    def fault_for(self, path):
        return self._faults.get(path)

    def next_turn(self, path) -> int:
        """How many requests for `path` were answered before this one."""
        with self._lock:
            turn = self._turns.get(path, 0)
            self._turns[path] = turn + 1
            return turn

    def put(self, path: str, data: bytes) -> str:
        """Writes a file to be served at `path`; returns its local file name."""
        local = os.path.join(self.root, path.lstrip("/"))
        os.makedirs(os.path.dirname(local), exist_ok=True)
        with open(local, "wb") as f:
            f.write(data)
        return local

    def file_bytes(self, path):
        local = os.path.normpath(os.path.join(self.root, urllib.parse.unquote(path).lstrip("/")))
        if not local.startswith(self.root + os.sep) or not os.path.isfile(local):
            return None
        with open(local, "rb") as f:
            return f.read()

    # --- observations
    @property
    def requests(self) -> List[Request]:
        with self._lock:
            return list(self._requests)

    def paths(self) -> List[str]:
        return [r.path for r in self.requests]

    @property
    def url(self) -> str:
        return f"{'https' if self.tls else 'http'}://{self.host}:{self.port}/"

    # --- life
    def start(self):
        os.makedirs(self.root, exist_ok=True)
        # A fixed port may still be held for a moment by a server that just stopped.
        deadline = time.monotonic() + 20
        while True:
            try:
                self._httpd = _Server((self.host, self.port), _Handler)
                break
            except OSError as e:
                if e.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        self._httpd.owner = self
        self._httpd.tls = self.tls
        self.port = self._httpd.server_address[1]
        serve = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        serve.start()
        # Stops by itself even when a test forgets to, so CI never keeps a server.
        watchdog = threading.Timer(self.lifetime, self._expire, args=(self._httpd,))
        watchdog.daemon = True
        watchdog.start()
        self._threads = [serve, watchdog]
        return self

    @staticmethod
    def _expire(httpd):
        httpd.shutdown()
        httpd.server_close()

    def stop(self):
        if self._httpd:
            self._threads[1].cancel()
            self._httpd.shutdown()
            self._httpd.server_close()
            self._httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
