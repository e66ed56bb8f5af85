"""Local FTP server for end-to-end tests (pyftpdlib), active and passive, on 127.0.0.1.

Serves a folder to one account, records every command and every control connection, and
can send downloads slowly (`rate`, bytes per second) or drop a download's data connection
after `drop_after` bytes, or go silent on it after `stall_after` bytes (open, sending
nothing more). Hostile on request: `refuse_store` takes an upload's data and then
answers 550 instead of 226 (a full quota), dropping what came; `refuse_retrieve` answers a
download 150 and then 550 without data; `refuse` names commands answered 550 ("LIST",
"SIZE", "RNFR"); `store_rate` receives uploads slowly. It stops by itself after `lifetime`
seconds, because WinInet waits forever on a silent server.
"""
import os
import logging
import threading
import time
from typing import List, Optional, Tuple

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer


logging.getLogger("pyftpdlib").setLevel(logging.WARNING)


class LocalFtpServer:
    def __init__(self, root: str, user: str = "anna", password: str = "hemlig",
                 rate: Optional[int] = None, drop_after: Optional[int] = None, lifetime: float = 120,
                 refuse_store: bool = False, refuse_retrieve: bool = False, refuse: Tuple[str, ...] = (),
                 store_rate: Optional[int] = None, stall_after: Optional[int] = None):
        self.root, self.user, self.password = root, user, password
        self.rate, self.drop_after, self.lifetime = rate, drop_after, lifetime
        self.refuse_store, self.refuse_retrieve = refuse_store, refuse_retrieve
        self.refuse, self.store_rate = tuple(refuse), store_rate
        self.stall_after = stall_after
        self.commands: List[Tuple[str, str]] = []
        self.connections = 0
        self._server: Optional[FTPServer] = None
        self._thread: Optional[threading.Thread] = None

    def start(self) -> "LocalFtpServer":
        owner = self
        authorizer = DummyAuthorizer()
        authorizer.add_user(self.user, self.password, self.root, perm="elradfmwMT")

        class Dtp(ThrottledDTPHandler):
            # Unthrottled unless a rate is set; a drop closes the data connection mid-file,
            # which the server reports as an aborted transfer.
            write_limit = owner.rate or 0
            read_limit = owner.store_rate or 0

            def close(self):
                # The data is in; the verdict is a refusal, and nothing of it is kept.
                if owner.refuse_store and self.receive and not self._closed:
                    self._resp = ("550 Quota exceeded.", logging.debug)
                    name = self.file_obj.name if self.file_obj is not None else None
                    super().close()
                    if name and os.path.isfile(name):
                        os.remove(name)
                    return
                super().close()

            def send(self, data):
                if owner.refuse_retrieve and not self.receive and owner.commands[-1][0] == "RETR":
                    self._resp = ("550 Failed to read file.", logging.debug)
                    self.close()
                    return 0
                if owner.stall_after is not None and not self.receive and \
                        self.tot_bytes_sent >= owner.stall_after:
                    time.sleep(0.05)  # silent, the connection kept; the loop is not spun hot
                    return 0
                if owner.stall_after is not None and not self.receive:
                    data = data[:owner.stall_after - self.tot_bytes_sent]
                limit = owner.drop_after
                if limit is not None and not self.receive:
                    if self.tot_bytes_sent >= limit:
                        self.handle_close()
                        return 0
                    data = data[:limit - self.tot_bytes_sent]
                return super().send(data)

        class Handler(FTPHandler):
            auth_failed_timeout = 0
            use_sendfile = False
            dtp_handler = Dtp

            def on_connect(self):
                owner.connections += 1

            def pre_process_command(self, line, cmd, arg):
                owner.commands.append((cmd, "***" if cmd == "PASS" else arg))
                if cmd in owner.refuse:
                    self.respond("550 Not allowed.")
                    return
                return super().pre_process_command(line, cmd, arg)

        Handler.authorizer = authorizer
        # Its own loop: servers that share one (pyftpdlib's default) close each other's sockets.
        self._server = FTPServer(("127.0.0.1", 0), Handler, ioloop=IOLoop())
        self._stop_at = time.monotonic() + self.lifetime
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()
        return self

    def _serve(self):
        while self._server is not None and time.monotonic() < self._stop_at:
            self._server.ioloop.loop(timeout=0.2, blocking=False)
        server, self._server = self._server, None
        if server is not None:
            server.close_all()

    @property
    def port(self) -> int:
        return self._server.socket.getsockname()[1]

    def stop(self):
        self._stop_at = 0
        if self._thread:
            self._thread.join(10)

    def count(self, command: str) -> int:
        return sum(1 for c, _ in self.commands if c == command)

    def args(self, command: str) -> List[str]:
        return [a for c, a in self.commands if c == command]
