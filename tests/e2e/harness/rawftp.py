"""A scripted FTP server on 127.0.0.1 (passive mode only) for hostile cases pyftpdlib cannot
play: a greeting, a reply or a listing that never comes, a listing without end, a download
that dies after "150" or never gets its "226", a size that only SIZE knows. Files are given
as bytes, or as a size whose bytes are made on the fly (a listing may name a file of several
GiB that never exists anywhere). Every command is recorded; every silence and every endless
listing ends by itself after `lifetime` seconds.
"""
import socket
import threading
import time
from typing import Dict, List, Optional, Set, Tuple, Union


class RawFtpServer:
    def __init__(self, files: Dict[str, Union[bytes, int]], lifetime: float = 30,
                 silent: Set[str] = frozenset(), refuse: Set[str] = frozenset(),
                 listed_size_cap: bool = False, endless_list: bool = False,
                 die_after: Optional[int] = None, no_226: bool = False):
        self.files = files
        self.lifetime = lifetime
        self.silent = set(silent)          # commands (or "GREETING") answered never
        self.refuse = set(refuse)          # commands answered "550 Not allowed." ("SIZE": "500")
        self.listed_size_cap = listed_size_cap  # a listing shows sizes from 2 GiB as 2147483647
        self.endless_list = endless_list
        self.die_after = die_after         # RETR: this many bytes, then both connections close
        self.no_226 = no_226               # RETR: the data, then no final reply ever
        self.commands: List[Tuple[str, str]] = []
        self._sock = socket.socket()
        self._sock.bind(("127.0.0.1", 0))
        self._sock.listen(8)
        self._sock.settimeout(0.2)
        self.port = self._sock.getsockname()[1]
        self._stop_at = time.monotonic() + lifetime
        self._open: List[socket.socket] = []
        self.folders: Set[str] = set()  # made by MKD

    def start(self) -> "RawFtpServer":
        threading.Thread(target=self._accept, daemon=True).start()
        return self

    def stop(self):
        self._stop_at = 0
        for s in self._open:
            try:
                s.close()
            except OSError:
                pass

    def count(self, command: str) -> int:
        return sum(1 for c, _ in self.commands if c == command)

    def _alive(self) -> bool:
        return time.monotonic() < self._stop_at

    def _hold(self):
        while self._alive():
            time.sleep(0.05)

    def _accept(self):
        while self._alive():
            try:
                conn, _ = self._sock.accept()
            except socket.timeout:
                continue
            self._open.append(conn)
            threading.Thread(target=self._session, args=(conn,), daemon=True).start()
        self._sock.close()

    def _size(self, name: str) -> Optional[int]:
        data = self.files.get(name.lstrip("/"))
        if data is None:
            return None
        return data if isinstance(data, int) else len(data)

    def _bytes(self, name: str):
        data = self.files[name.lstrip("/")]
        if isinstance(data, bytes):
            yield data
            return
        block = b"x" * 65536
        left = data
        while left > 0 and self._alive():
            yield block[:min(left, len(block))]
            left -= len(block)

    def _session(self, conn: socket.socket):
        conn.settimeout(0.5)
        send = lambda line: conn.sendall(line.encode() + b"\r\n")
        try:
            if "GREETING" in self.silent:
                return self._hold()
            send("220 scripted")
            cwd = "/"
            data_listener = None
            buffer = b""
            while self._alive():
                try:
                    chunk = conn.recv(4096)
                except socket.timeout:
                    continue
                if not chunk:
                    return
                buffer += chunk
                while b"\r\n" in buffer:
                    line, buffer = buffer.split(b"\r\n", 1)
                    text = line.decode("latin-1")
                    cmd, _, arg = text.partition(" ")
                    cmd = cmd.upper()
                    self.commands.append((cmd, "***" if cmd == "PASS" else arg))
                    if cmd in self.silent:
                        return self._hold()
                    if cmd in self.refuse:
                        send("500 Unknown command." if cmd == "SIZE" else "550 Not allowed.")
                        continue
                    if cmd == "USER":
                        send("331 Password.")
                    elif cmd == "PASS":
                        send("230 Logged in.")
                    elif cmd in ("TYPE", "MODE", "STRU"):
                        send("200 OK.")
                    elif cmd == "PWD":
                        send(f'257 "{cwd}" is the current folder.')
                    elif cmd == "CWD":
                        target = arg if arg.startswith("/") else cwd.rstrip("/") + "/" + arg
                        target = "/" + target.strip("/")
                        prefix = target.strip("/") + "/"
                        if target == "/" or target in self.folders or any(n.startswith(prefix) for n in self.files):
                            cwd = target
                            send("250 OK.")
                        else:
                            send("550 No such folder.")
                    elif cmd == "SIZE":
                        size = self._size(self._path(cwd, arg))
                        send(f"213 {size}" if size is not None else "550 No such file.")
                    elif cmd == "PASV":
                        if data_listener:
                            data_listener.close()
                        data_listener = socket.socket()
                        data_listener.bind(("127.0.0.1", 0))
                        data_listener.listen(1)
                        data_listener.settimeout(5)
                        p = data_listener.getsockname()[1]
                        send(f"227 Entering Passive Mode (127,0,0,1,{p >> 8},{p & 255}).")
                    elif cmd in ("LIST", "NLST"):
                        self._list(send, data_listener, cwd, arg)
                        data_listener = None
                    elif cmd == "RETR":
                        if not self._retr(send, conn, data_listener, self._path(cwd, arg)):
                            return
                        data_listener = None
                    elif cmd == "STOR":
                        if not self._stor(send, data_listener, self._path(cwd, arg)):
                            return
                        data_listener = None
                    elif cmd == "MKD":
                        self.folders.add("/" + self._path(cwd, arg))
                        send("257 Made.")
                    elif cmd == "DELE":
                        self.files.pop(self._path(cwd, arg), None)
                        send("250 Deleted.")
                    elif cmd == "QUIT":
                        send("221 Bye.")
                        return
                    else:
                        send("502 Not implemented.")
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    @staticmethod
    def _path(cwd: str, name: str) -> str:
        return (name if name.startswith("/") else cwd.rstrip("/") + "/" + name).strip("/")

    def _list(self, send, listener, cwd, arg):
        if listener is None:
            send("425 No data connection.")
            return
        send("150 Here comes the listing.")
        data, _ = listener.accept()
        listener.close()
        self._open.append(data)
        folder = cwd.strip("/")
        mask = arg.split()[-1] if arg and not arg.startswith("-") else ""
        try:
            if "LISTDATA" in self.silent:
                return self._hold()
            if self.endless_list:
                n = 0
                while self._alive():
                    data.sendall("".join(
                        f"-rw-r--r-- 1 u g 10 Jan 01 2020 f{n + i}.txt\r\n" for i in range(500)).encode())
                    n += 500
                return
            for name in sorted(self.files):
                parent, _, base = name.rpartition("/")
                if parent != folder or (mask and mask != "*" and mask != base and
                                        not (mask.startswith("*") and base.endswith(mask[1:]))):
                    continue
                size = self._size(name)
                if self.listed_size_cap:
                    size = min(size, 2147483647)
                data.sendall(f"-rw-r--r-- 1 u g {size} Jan 01 2020 {base}\r\n".encode())
        finally:
            data.close()
        send("226 Listing sent.")

    def _retr(self, send, conn, listener, name) -> bool:
        if listener is None or self._size(name) is None:
            send("550 No such file.")
            return True
        send("150 Here comes the file.")
        data, _ = listener.accept()
        listener.close()
        self._open.append(data)
        sent = 0
        for block in self._bytes(name):
            if self.die_after is not None and sent + len(block) >= self.die_after:
                data.sendall(block[:self.die_after - sent])
                data.close()
                conn.close()  # the server dies: no final reply at all
                return False
            data.sendall(block)
            sent += len(block)
        data.close()
        if self.no_226:
            self._hold()
            return False
        send("226 Transfer complete.")
        return True

    def _stor(self, send, listener, name) -> bool:
        if listener is None:
            send("425 No data connection.")
            return True
        send("150 Send the file.")
        data, _ = listener.accept()
        listener.close()
        data.settimeout(5)
        received = b""
        try:
            while self._alive():
                chunk = data.recv(65536)
                if not chunk:
                    break
                received += chunk
        finally:
            data.close()
        self.files[name] = received
        if self.no_226:
            self._hold()
            return False
        send("226 Stored.")
        return True
