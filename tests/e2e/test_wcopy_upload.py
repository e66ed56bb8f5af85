"""HTTP uploads of the transfer component end to end: wcopy.exe under Wine sends local files
to the scripted server, which records each request's method, headers and body."""
import os
import shutil
import stat
import tempfile
import unittest

from harness.server import ScriptedHttpServer
from harness.wcopy import run_wcopy
from harness.wine import Wine

DATA = bytes(range(256)) * 40 + b"end"  # 10243 bytes: two whole blocks and a part


@unittest.skipUnless(os.environ.get("WCOPY_EXE"), "wcopy.exe is built only for Windows targets")
class WcopyUploadTest(unittest.TestCase):
    def setUp(self):
        self.wine = Wine.from_env()
        self.server = ScriptedHttpServer(tempfile.mkdtemp(prefix="wcopy-srv-")).start()
        self.addCleanup(self.server.stop)
        self.src = tempfile.mkdtemp(prefix="wcopy-up-")
        self.addCleanup(shutil.rmtree, self.src, True)
        path = os.path.join(self.src, "a.bin")
        with open(path, "wb") as f:
            f.write(DATA)
        os.chmod(path, stat.S_IRUSR | stat.S_IRGRP)  # read-only: an upload only reads
        self.addCleanup(os.chmod, path, stat.S_IRUSR | stat.S_IWUSR)

    def url(self, path):
        return self.server.url + path.lstrip("/")  # always with the server's port

    def wcopy(self, *args):
        return run_wcopy(self, self.wine, *args)

    def test_post_and_put_send_the_file_as_the_body(self):
        local = ["--to", self.wine.windows_path(self.src)]
        run = self.wcopy("--verbose-progress", "--http-upload", self.url("/in/a.bin"), *local,
                         "--http-upload", self.url("/in/b.bin?v=2"), *local, "--name", "a.bin", "--put")
        self.assertEqual(run.exit_code, 0, run.raw)
        self.assertEqual([l for l in run.lines if l.startswith("OnCopyProgress 1")],
                         [f"OnCopyProgress 1 {n} {len(DATA)}" for n in (4096, 8192, len(DATA))])
        self.assertEqual([(r.method, r.path) for r in self.server.requests],
                         [("POST", "/in/a.bin"), ("PUT", "/in/b.bin?v=2")])
        for r in self.server.requests:
            self.assertEqual(r.body, DATA)
            self.assertEqual(r.header("Content-Length"), str(len(DATA)))
            self.assertEqual(r.header("Host"), f"127.0.0.1:{self.server.port}")
            self.assertEqual(r.header("User-Agent"), "WebCopy")
            self.assertIsNone(r.header("Authorization"))
            self.assertIsNone(r.header("Content-Type"))  # the raw file, no form encoding

    def test_error_answer_and_missing_file_are_failures(self):
        self.server.script("/in/a.bin", status=500)
        missing = self.wine.windows_path(os.path.join(self.src, "none.bin"))
        run = self.wcopy("--no-dialog", "--http-upload", self.url("/in/a.bin"), "--to", self.wine.windows_path(self.src),
                         "--http-upload", self.url("/in/none.bin"), "--to", self.wine.windows_path(self.src))
        self.assertEqual(run.exit_code, 1, run.raw)
        self.assertEqual(run.events(), [
            "OnFileStart 0", "OnError 500", "OnErrorInfo 500 Returned http error code 500", "OnFileDone 0",
            "OnFileStart 1", "OnError 1", "OnErrorInfo 1 Cannot open source file " + missing, "OnFileDone 1",
            "OnCopyDone"])
        self.assertEqual([run.job(0), run.job(1)], ["Failed", "Failed"])
        self.assertEqual([(r.method, r.body) for r in self.server.requests], [("POST", DATA)])


if __name__ == "__main__":
    unittest.main()
