"""wcopy.exe under Wine (real WinInet) against servers that lie, die, cut bodies short or go
silent: scripted FTP (harness/rawftp.py) and raw HTTP servers on 127.0.0.1. Each test mounts
several attacks in a row and reads, after each, what is in the target folder or on the
server, the events and the exit code."""
import os
import shutil
import socket
import tempfile
import threading
import time
import unittest

from harness import tls
from harness.dialogs import DialogDriver
from harness.proxy import ProxyServer
from harness.rawftp import RawFtpServer
from harness.server import Fault, ScriptedHttpServer
from harness.wcopy import WcopyRun, run_wcopy
from harness.wine import Wine


def tree(root):
    found = {}
    for folder, _, files in os.walk(root):
        for name in files:
            full = os.path.join(folder, name)
            with open(full, "rb") as f:
                found[os.path.relpath(full, root).replace(os.sep, "/")] = f.read()
    return found


class RawHttpServer:
    """Answers each path with a scripted raw response; records every request's head and the
    body bytes it sent. Bounded: stops after `lifetime` seconds."""

    def __init__(self, routes, lifetime=60):
        self.routes = routes          # path -> function(conn, head) that answers
        self.requests = []            # (request line, body bytes)
        self._stop_at = time.monotonic() + lifetime
        self._sock = socket.socket()
        self._sock.bind(("127.0.0.1", 0))
        self._sock.listen(8)
        self._sock.settimeout(0.2)
        self.url = f"http://127.0.0.1:{self._sock.getsockname()[1]}/"

    def alive(self):
        return time.monotonic() < self._stop_at

    def start(self):
        threading.Thread(target=self._accept, daemon=True).start()
        return self

    def stop(self):
        self._stop_at = 0

    def _accept(self):
        while self.alive():
            try:
                conn, _ = self._sock.accept()
            except socket.timeout:
                continue
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()
        self._sock.close()

    def _serve(self, conn):
        conn.settimeout(2)
        data = b""
        try:
            while self.alive():
                while b"\r\n\r\n" not in data:
                    chunk = conn.recv(65536)
                    if not chunk:
                        return
                    data += chunk
                head, data = data.split(b"\r\n\r\n", 1)
                line = head.split(b"\r\n")[0].decode("latin-1")
                path = line.split(" ")[1]
                route = self.routes.get(path.split("?")[0])
                if route is None:
                    conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                    self.requests.append((line, b""))
                    continue
                data = route(self, conn, head, data)
                if data is None:
                    return
        except OSError:
            pass
        finally:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            conn.close()


OK = b"HTTP/1.1 200 OK\r\n"


def chunked(parts, end=True):
    def answer(server, conn, head, rest):
        server.requests.append((head.split(b"\r\n")[0].decode(), b""))
        body = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in parts)
        conn.sendall(OK + b"Transfer-Encoding: chunked\r\n\r\n" + body + (b"0\r\n\r\n" if end else b""))
        return rest if end else None
    return answer


def cut_chunk(server, conn, head, rest):  # 3000 of a 5000-byte chunk, then the close
    conn.sendall(OK + b"Transfer-Encoding: chunked\r\n\r\n1388\r\n" + b"c" * 3000)
    return None


def close_delimited(server, conn, head, rest):
    conn.sendall(OK + b"Connection: close\r\n\r\n" + b"d" * 5000)
    return None


def four_gib_cut(server, conn, head, rest):  # 4 GiB + 100 announced, 20 MiB sent
    conn.sendall(OK + b"Content-Length: 4294967396\r\n\r\n")
    block = b"e" * (1 << 20)
    for _ in range(20):
        conn.sendall(block)
    return None


def silent_body(server, conn, head, rest):  # 1000 bytes of 100000, then silence
    conn.sendall(OK + b"Content-Length: 100000\r\n\r\n" + b"s" * 1000)
    while server.alive():
        time.sleep(0.05)
    return None


def steady_after_fast(server, conn, head, rest):
    """1 MiB at once, then 8 KiB/s for 6 s: never silent for a second."""
    total = (1 << 20) + 6 * 8192
    conn.sendall(OK + b"Content-Length: %d\r\n\r\n" % total + b"f" * (1 << 20))
    for _ in range(6 * 8):
        time.sleep(0.125)
        conn.sendall(b"f" * 1024)
    return rest


def growing_upload(source_path):
    """Takes the announced length, appends to the source meanwhile, then waits for any bytes
    past it: a second request made of the file's content would arrive here."""
    def answer(server, conn, head, rest):
        length = int([l for l in head.split(b"\r\n") if l.lower().startswith(b"content-length:")][0].split(b":")[1])
        with open(source_path, "ab") as f:
            f.write(b"\r\nGET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n" * 2000)
        body = rest
        while len(body) < length:
            chunk = conn.recv(65536)
            if not chunk:
                break
            body += chunk
        conn.sendall(OK + b"Content-Length: 2\r\n\r\nok")
        server.requests.append((head.split(b"\r\n")[0].decode(), body[:length]))
        return body[length:]
    return answer


HUGE = (1 << 32) + 4097  # bytes; block i of 64 KiB starts with i as 8 bytes, the rest zeros
BLOCK = 1 << 16


def huge_bytes(start):
    """The huge file from `start` on, made as it goes (nothing of it is ever on disk)."""
    index, offset = divmod(start, BLOCK)
    while index * BLOCK < HUGE:
        block = index.to_bytes(8, "big") + bytes(BLOCK - 8)
        block = block[:min(BLOCK, HUGE - index * BLOCK)]
        yield block[offset:]
        offset = 0
        index += 1


def huge_with_a_break(cut_at):
    """ETag'd, answers "Range: bytes=N-" with the rest (206); the first whole answer breaks
    off at `cut_at`."""
    state = {"cut": cut_at}

    def answer(server, conn, head, rest):
        lines = head.decode("latin-1").split("\r\n")
        server.requests.append((lines[0], b""))
        fields = {l.split(":", 1)[0].lower(): l.split(":", 1)[1].strip() for l in lines[1:] if ":" in l}
        start = 0
        if fields.get("range", "").startswith("bytes=") and fields.get("if-range") == '"v1"':
            start = int(fields["range"][6:].rstrip("-"))
        if start:
            conn.sendall(b"HTTP/1.1 206 Partial Content\r\nETag: \"v1\"\r\nContent-Length: %d\r\n"
                         b"Content-Range: bytes %d-%d/%d\r\n\r\n" % (HUGE - start, start, HUGE - 1, HUGE))
        else:
            conn.sendall(OK + b"ETag: \"v1\"\r\nContent-Length: %d\r\n\r\n" % HUGE)
        sent = start
        cut, state["cut"] = state["cut"], None
        for block in huge_bytes(start):
            if not server.alive():
                return None
            if cut is not None and sent + len(block) >= cut:
                conn.sendall(block[:cut - sent])
                return None
            conn.sendall(block)
            sent += len(block)
        return rest
    return answer


@unittest.skipUnless(os.environ.get("WCOPY_EXE"), "wcopy.exe is built only for Windows targets")
class WcopyHostileTest(unittest.TestCase):
    def setUp(self):
        self.wine = Wine.from_env()
        self.out = tempfile.mkdtemp(prefix="wcopy-hostile-")
        self.addCleanup(shutil.rmtree, self.out, True)

    def win(self, *parts):
        return self.wine.windows_path(os.path.join(self.out, *parts))

    def put(self, name, data):
        path = os.path.join(self.out, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def ftp(self, files, **kw):
        server = RawFtpServer(files, **kw).start()
        self.addCleanup(server.stop)
        return server

    def wcopy(self, *args, timeout=60):
        began = time.monotonic()
        run = run_wcopy(self, self.wine, *args, timeout=timeout)
        run.seconds = time.monotonic() - began
        return run

    def ftp_args(self, server):
        return ["--host", "127.0.0.1", "--port", str(server.port), "--user", "u", "--password", "p"]

    def assertFailedKeepingOld(self, run, old, name="dl/a.bin"):
        self.assertEqual(run.exit_code, 1, run.raw)
        self.assertEqual(run.job(0), "Failed", run.raw)
        self.assertEqual(tree(self.out), {name: old}, run.raw)

    def test_ftp_server_that_dies_lies_or_refuses(self):
        old = b"old"
        self.put("dl/a.bin", old)
        data = bytes(range(256)) * 12  # 3072 bytes
        # Size unknown (LIST refused, SIZE not understood), the server dies after 1000 bytes.
        s = self.ftp({"a.bin": data}, refuse={"LIST", "SIZE"}, die_after=1000)
        run = self.wcopy("--passive", "--stall-timeout", "5", "--ftp", "a.bin", "--to", self.win("dl"), *self.ftp_args(s))
        self.assertFailedKeepingOld(run, old)
        # Size unknown and every byte sent, but no final reply: not proven whole either.
        s = self.ftp({"a.bin": data}, refuse={"LIST", "SIZE"}, no_226=True)
        run = self.wcopy("--passive", "--stall-timeout", "2", "--ftp", "a.bin", "--to", self.win("dl"), *self.ftp_args(s))
        self.assertFailedKeepingOld(run, old)
        self.assertLess(run.seconds, 20, run.raw)
        # The same file whole with its 226 and no size known: Done.
        s = self.ftp({"a.bin": data}, refuse={"LIST", "SIZE"})
        run = self.wcopy("--passive", "--ftp", "a.bin", "--to", self.win("dl"), *self.ftp_args(s))
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertEqual(tree(self.out), {"dl/a.bin": data})
        # A backslash separates folders in the name as well: pub\b.txt is pub/b.txt, never the
        # login folder's b.txt.
        s = self.ftp({"b.txt": b"login folder", "pub/b.txt": b"pub"})
        run = self.wcopy("--passive", "--ftp", "pub\\b.txt", "--to", self.win("dl"), *self.ftp_args(s))
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertEqual(tree(self.out)["dl/b.txt"], b"pub")
        # A listing that caps sizes of 2 GiB and more: the listing job asks SIZE for them.
        s = self.ftp({"pub/huge.iso": 3 * 1024 ** 3 + 5, "pub/small.txt": b"12345"}, listed_size_cap=True)
        run = self.wcopy("--passive", "--ftp-list", "pub/*", *self.ftp_args(s))
        self.assertEqual(run.exit_code, 0, run.raw)
        entries = sorted(l.split()[2:4] for l in run.raw.splitlines() if l.startswith("Entry "))
        self.assertEqual(entries, [["huge.iso", str(3 * 1024 ** 3 + 5)], ["small.txt", "5"]], run.raw)
        # A refused LIST fails a mask download and a listing; nothing is fetched.
        s = self.ftp({"pub/c.txt": b"c"}, refuse={"LIST"})
        run = self.wcopy("--passive", "--multi-ftp", "pub/*.txt", "--to", self.win("m"), *self.ftp_args(s),
                         "--ftp-list", "pub/*", *self.ftp_args(s))
        self.assertEqual(run.exit_code, 1, run.raw)
        self.assertEqual([run.job(0), run.job(1)], ["Failed", "Failed"], run.raw)
        self.assertEqual(run.events().count("OnError 12003"), 2, run.raw)
        self.assertNotIn("m/c.txt", tree(self.out))

    def test_ftp_waits_end_at_the_stall_limit(self):
        """A silent greeting, a silent CWD, a listing whose data never comes and one without
        end: each job fails after the limit (2 s), and the run ends."""
        old = b"old"
        self.put("dl/a.bin", old)
        cases = [
            ("greeting", {"silent": {"GREETING"}}, ["--ftp", "pub/a.bin", "--to", self.win("dl")]),
            ("CWD", {"silent": {"CWD"}}, ["--ftp", "pub/a.bin", "--to", self.win("dl")]),
            ("listing, --ftp", {"silent": {"LISTDATA"}}, ["--ftp", "pub/a.bin", "--to", self.win("dl")]),
            ("listing, --multi-ftp", {"silent": {"LISTDATA"}}, ["--multi-ftp", "pub/*", "--to", self.win("dl")]),
            ("listing, --ftp-list", {"silent": {"LISTDATA"}}, ["--ftp-list", "pub/*"]),
            ("endless listing", {"endless_list": True}, ["--ftp-list", "pub/*"]),
        ]
        for why, faults, job in cases:
            with self.subTest(why):
                s = self.ftp({"pub/a.bin": b"new"}, lifetime=40, **faults)
                run = self.wcopy("--passive", "--stall-timeout", "2", *job, *self.ftp_args(s), timeout=45)
                self.assertLess(run.seconds, 20, why + ": " + run.raw)
                self.assertEqual(run.exit_code, 1, run.raw)
                self.assertEqual(run.job(0), "Failed", run.raw)
                self.assertEqual(tree(self.out), {"dl/a.bin": old}, run.raw)
                self.assertTrue([l for l in run.events() if l.startswith("OnErrorInfo ")], run.raw)

    def test_http_bodies_are_done_only_when_proven_whole(self):
        old = b"old"
        self.put("dl/a.bin", old)
        server = RawHttpServer({
            "/big": four_gib_cut, "/cut-chunk": cut_chunk,
            "/cut-before-last": chunked([b"a" * 5000], end=False),
            "/whole-chunked": chunked([b"w" * 5000, b"x" * 100]), "/close": close_delimited,
        }).start()
        self.addCleanup(server.stop)
        for path in ("big", "cut-chunk", "cut-before-last", "close", "whole-chunked"):
            with self.subTest(path):
                run = self.wcopy("--http", server.url + path, "--to", self.win("dl"), "--name", "a.bin")
                self.assertFailedKeepingOld(run, old)
        # Resume must not take a 4 GiB length for 100 bytes either.
        run = self.wcopy("--http", server.url + "big", "--resume", "--to", self.win("dl"), "--name", "a.bin")
        self.assertEqual(run.job(0), "Failed", run.raw)
        self.assertEqual(tree(self.out)["dl/a.bin"], old)
        # A job that allows an unconfirmed length takes what came.
        run = self.wcopy("--http", server.url + "whole-chunked", "--allow-unconfirmed-length",
                         "--to", self.win("dl"), "--name", "a.bin")
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertEqual(tree(self.out), {"dl/a.bin": b"w" * 5000 + b"x" * 100})
        # An option before its job says which job it must follow.
        run = self.wcopy("--resume", "--http", server.url + "close")
        self.assertEqual(run.exit_code, 2, run.raw)
        self.assertIn("--resume must follow the job it applies to: --http URL --resume", run.raw)

    def test_http_stall_counts_bytes_and_uploads_send_what_they_announce(self):
        source = os.path.join(self.out, "up", "log.txt")
        self.put("up/log.txt", b"line\r\n" * 5000)
        server = RawHttpServer({"/steady": steady_after_fast, "/in/log.txt": growing_upload(source)}).start()
        self.addCleanup(server.stop)
        # A steady 8 KiB/s after a fast start is no stall, with a 2 s limit.
        run = self.wcopy("--stall-timeout", "2", "--http", server.url + "steady", "--to", self.win("dl"),
                         "--name", "s.bin")
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertEqual(len(tree(self.out)["dl/s.bin"]), (1 << 20) + 6 * 8192)
        # A log that grows while it goes up is sent as it was; nothing follows the body.
        run = self.wcopy("--http-upload", server.url + "in/log.txt", "--to", self.win("up"))
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        time.sleep(1)
        self.assertEqual([(l, b) for l, b in server.requests if "/in/" in l or "smuggled" in l],
                         [("POST /in/log.txt HTTP/1.1", b"line\r\n" * 5000)])

    def test_credentials_only_where_they_belong(self):
        """Site credentials of an https job through a forwarding proxy travel only inside the
        tunnel; proxy credentials never go to a server reached directly that answers 407."""
        certs = tls.make_certificates(os.path.join(os.environ["E2E_STATE_DIR"], "tls"))
        tls.trust(self.wine, certs["ca.der"])
        root = tempfile.mkdtemp(prefix="wcopy-site-")
        self.addCleanup(shutil.rmtree, root, True)
        os.makedirs(os.path.join(root, "files"))
        with open(os.path.join(root, "files", "a.bin"), "wb") as f:
            f.write(b"secret page " * 100)
        site = ScriptedHttpServer(root, host="localhost", tls=tls.server_context(certs["trusted"]), lifetime=60).start()
        self.addCleanup(site.stop)
        site.script("/files/a.bin", Fault(auth=("anna", "hemlig")))
        proxy = ProxyServer(("pu", "pp")).start()
        self.addCleanup(proxy.stop)
        run = self.wcopy("--proxy", f"127.0.0.1:{proxy.port}", "--proxy-user", "pu", "--proxy-password", "pp",
                         "--http", site.url + "files/a.bin", "--user", "anna", "--password", "hemlig",
                         "--to", self.win("dl"))
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertEqual(tree(self.out)["dl/a.bin"], b"secret page " * 100)
        secret = "YW5uYTpoZW1saWc="  # anna:hemlig
        self.assertTrue(proxy.connects, "the job went through the proxy")
        for head in proxy.connects:
            self.assertNotIn(secret, head)
            self.assertNotIn("authorization: basic", head.lower().replace("proxy-authorization", ""))
        self.assertIn("Basic " + secret, [r.header("Authorization") for r in site.requests])

        # Reached directly, a server that answers 407 gets no proxy credentials.
        direct = RawHttpServer({"/p": lambda srv, conn, head, rest: (
            srv.requests.append((head.decode("latin-1"), b"")),
            conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=x\r\n"
                         b"Content-Length: 0\r\n\r\n"), rest)[2]}).start()
        self.addCleanup(direct.stop)
        run = self.wcopy("--proxy-user", "pu", "--proxy-password", "pp", "--http", direct.url + "p",
                         "--to", self.win("dl"))
        self.assertEqual((run.exit_code, run.job(0)), (1, "Failed"), run.raw)
        self.assertIn("OnError 407", run.events())
        self.assertTrue(direct.requests)
        for head, _ in direct.requests:
            self.assertNotIn("proxy-authorization", head.lower())

    def test_download_over_4_gib_breaks_and_completes_by_resume(self):
        server = RawHttpServer({"/huge.bin": huge_with_a_break((1 << 31) + 12345)}, lifetime=600).start()
        self.addCleanup(server.stop)
        target = os.path.join(self.out, "dl", "huge.bin")
        self.addCleanup(lambda: os.path.exists(target) and os.remove(target))
        run = self.wcopy("--no-dialog", "--http", server.url + "huge.bin", "--resume", "--to", self.win("dl"),
                         timeout=500)
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertEqual([l for l, _ in server.requests], ["GET /huge.bin HTTP/1.1"] * 2, "one break, one resume")
        self.assertEqual(sorted(os.listdir(os.path.dirname(target))), ["huge.bin"])
        self.assertEqual(os.path.getsize(target), HUGE)
        with open(target, "rb") as f:
            for index in range(0, HUGE // BLOCK + 1):
                block = f.read(BLOCK)
                if block[:8] != index.to_bytes(8, "big")[:len(block)] or block.count(0) < len(block) - 8:
                    self.fail(f"block {index} differs")
        os.remove(target)

    def test_uploads_skip_folders_and_say_when_they_stall(self):
        from harness.ftp import LocalFtpServer
        root = tempfile.mkdtemp(prefix="wcopy-ftproot-")
        self.addCleanup(shutil.rmtree, root, True)
        os.makedirs(os.path.join(root, "in"))
        self.put("up/a.txt", b"a")
        self.put("up/b.txt", b"b")
        self.put("up/sub/c.txt", b"c")
        ftp = LocalFtpServer(root).start()
        self.addCleanup(ftp.stop)
        run = self.wcopy("--passive", "--multi-ftp-upload", self.win("up") + "\\*", "--to", "in",
                         "--host", "127.0.0.1", "--port", str(ftp.port), "--user", ftp.user, "--password", ftp.password)
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertFalse([l for l in run.events() if l.startswith("OnError")], run.raw)
        self.assertEqual(tree(root), {"in/a.txt": b"a", "in/b.txt": b"b"})

        # A server that takes the request and then reads nothing more of the body.
        def deaf(server, conn, head, rest):
            server.requests.append((head.split(b"\r\n")[0].decode(), b""))
            while server.alive():
                time.sleep(0.05)
            return None
        self.put("up/big.bin", b"z" * (32 << 20))
        http = RawHttpServer({"/in/big.bin": deaf}, lifetime=40).start()
        self.addCleanup(http.stop)
        run = self.wcopy("--stall-timeout", "2", "--http-upload", http.url + "in/big.bin", "--to", self.win("up"),
                         timeout=45)
        self.assertLess(run.seconds, 20, run.raw)
        self.assertEqual((run.exit_code, run.job(0)), (1, "Failed"), run.raw)
        self.assertIn("OnError 12002", run.events(), run.raw)
        info = [l for l in run.events() if l.startswith("OnErrorInfo 12002 ")]
        self.assertTrue(info and "timed out" in info[0].lower(), run.raw)

    def test_cancel_ends_any_wait_at_once(self):
        """With no stall limit, Cancel ends a silent body, a silent listing and a silent
        close of an upload; the run reports the cancel and the old files stay."""
        self.put("dl/a.bin", b"old")
        self.put("up/u.bin", b"u" * 100000)
        http = RawHttpServer({"/silent": silent_body}).start()
        self.addCleanup(http.stop)
        listing = self.ftp({"pub/a.bin": b"new"}, silent={"LISTDATA"}, lifetime=60)
        upload = self.ftp({}, no_226=True, lifetime=60)
        cases = [
            ("Downloading", ["--http", http.url + "silent", "--to", self.win("dl"), "--name", "a.bin"]),
            ("Downloading", ["--passive", "--ftp-list", "pub/*", *self.ftp_args(listing)]),
            ("Uploading", ["--passive", "--ftp-upload", self.win("up", "u.bin"), "--to", "in", *self.ftp_args(upload)]),
        ]
        for caption, job in cases:
            with self.subTest(job[1]):
                driver = DialogDriver(self.wine, ["--wait-caption", caption, "--sleep", "1500", "--click", "Cancel",
                                                  "--wait-gone"])
                began = time.monotonic()
                try:
                    run = WcopyRun(self.wine.run(os.environ["WCOPY_EXE"], ["--stall-timeout", "0", *job], timeout=50))
                    report = driver.finish(timeout=30)
                finally:
                    driver.kill()
                took = time.monotonic() - began
                self.assertFalse(run.timed_out, run.raw)
                self.assertTrue(report.completed, report.describe() + "\nwcopy: " + run.raw)
                self.assertLess(took, 15, run.raw)  # the servers stay silent for 60 s
                self.assertIn("OnCopyCancel", run.events(), run.raw)
                self.assertEqual(run.job(0), "Failed", run.raw)
                self.assertFalse([l for l in run.events() if l.startswith("OnError")], run.raw)
                self.assertEqual(tree(self.out)["dl/a.bin"], b"old")
        self.assertNotIn("in/u.bin", upload.files)
