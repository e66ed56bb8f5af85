"""HTTP downloads of the transfer component end to end: wcopy.exe under Wine (real WinInet,
live progress dialog) against the scripted server; each test reads the events wcopy prints
and the files it leaves."""
import os
import shutil
import tempfile
import unittest
from datetime import datetime

from harness.proxy import ProxyServer
from harness.server import Fault, ScriptedHttpServer
from harness.wcopy import run_wcopy
from harness.wine import Wine

BODY = bytes(range(256)) * 80  # 20480 bytes: five blocks


@unittest.skipUnless(os.environ.get("WCOPY_EXE"), "wcopy.exe is built only for Windows targets")
class WcopyHttpTest(unittest.TestCase):
    def setUp(self):
        self.wine = Wine.from_env()
        self.server = ScriptedHttpServer(tempfile.mkdtemp(prefix="wcopy-srv-")).start()
        self.addCleanup(self.server.stop)
        self.out = tempfile.mkdtemp(prefix="wcopy-out-")
        self.addCleanup(shutil.rmtree, self.out, True)
        self.server.put("/files/a.bin", BODY)

    def url(self, path):
        return self.server.url + path.lstrip("/")

    def wcopy(self, *args, timeout=60):
        return run_wcopy(self, self.wine, *args, timeout=timeout)

    def to(self):
        return ["--to", self.wine.windows_path(self.out)]

    def local(self, name):
        path = os.path.join(self.out, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def test_download_reports_progress_and_keeps_the_body(self):
        run = self.wcopy("--show-time", "--show-elapsed", "--show-completion", "--verbose-progress",
                         "--http", self.url("/files/a.bin"), *self.to())
        self.assertEqual(run.exit_code, 0, run.raw)
        self.assertEqual(self.local("a.bin"), BODY)
        progress = [l for l in run.lines if l.startswith("OnCopyProgress")]
        self.assertEqual(progress, [f"OnCopyProgress 1 {n} 20480" for n in (4096, 8192, 12288, 16384, 20480, 20480)])
        self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0", "OnFileDone 0", "OnCopyDone"])
        request = self.server.requests[0]
        self.assertEqual(request.header("User-Agent"), "WebCopy")
        self.assertIsNone(request.header("Authorization"))

    def test_jobs_in_order_with_failures_reported(self):
        self.server.script("/files/gone.bin", status=404)
        run = self.wcopy("--no-dialog",
                         "--http", self.url("/files/a.bin"), *self.to(), "--inactive",
                         "--http", self.url("/files/gone.bin"), *self.to(),
                         "--http", "http://127.0.0.1:1/nothing.bin", *self.to(),
                         "--http", self.url("/files/a.bin"), *self.to(), "--name", "b.bin")
        self.assertEqual(run.exit_code, 1)
        self.assertEqual(run.events(), [
            "OnFileStart 1", "OnError 404", "OnErrorInfo 404 Returned http error code 404", "OnFileDone 1",
            "OnFileStart 2", "OnURLNotFound http://127.0.0.1:1/nothing.bin", "OnFileDone 2",
            "OnFileStart 3", "OnFileDone 3", "OnCopyDone"])
        self.assertEqual([run.job(i) for i in range(4)], ["Inactive", "Failed", "Failed", "Done"])
        self.assertEqual(sorted(os.listdir(self.out)), ["b.bin"])
        self.assertEqual(self.server.paths(), ["/files/gone.bin", "/files/a.bin"])

    def test_broken_body_leaves_no_file(self):
        url = self.url("/files/a.bin")
        read_error = ["OnError 4", "OnErrorInfo 4 Error reading source file " + url]
        rows = [("closed early", Fault(truncate_at=10000), [read_error]),
                ("closed at once", Fault(truncate_at=0), [read_error]),
                # A reset can overtake the headers in the client's receive queue.
                ("reset", Fault(reset_at=10000), [read_error, ["OnURLNotFound " + url]])]
        for why, fault, outcomes in rows:
            with self.subTest(why=why):
                self.server.script("/files/a.bin", fault)
                run = self.wcopy("--http", url, *self.to())
                self.assertEqual(run.job(0), "Failed")
                self.assertIn(run.events()[2:-2], outcomes)
                self.assertIsNone(self.local("a.bin"))

    def test_basic_authorization_from_the_job(self):
        self.server.script("/files/a.bin", auth=("anna", "hemlig"))
        run = self.wcopy("--http", self.url("/files/a.bin"), *self.to(), "--user", "anna", "--password", "hemlig")
        self.assertEqual(run.job(0), "Done", run.raw)
        self.assertEqual(self.server.requests[0].header("Authorization"), "Basic YW5uYTpoZW1saWc=")

        run = self.wcopy("--http", self.url("/files/a.bin"), *self.to(), "--name", "c.bin",
                         "--user", "anna", "--password", "fel")
        self.assertIn("OnErrorInfo 401 Returned http error code 401", run.lines)
        self.assertIsNone(self.local("c.bin"))

    def test_newer_only_against_last_modified(self):
        self.server.script("/files/a.bin", last_modified=datetime(2024, 5, 6, 7, 8, 9))
        run = self.wcopy("--http", self.url("/files/a.bin"), *self.to(), "--newer-than", "2024-05-06 07:08:09")
        self.assertEqual(run.job(0), "NoNewerFile")
        self.assertIn("OnNoNewFileFound a.bin 2024-05-06 07:08:09 2024-05-06 07:08:09", run.lines)
        self.assertIsNone(self.local("a.bin"))

        run = self.wcopy("--http", self.url("/files/a.bin"), *self.to(), "--newer-than", "2024-05-06 07:08:08")
        self.assertEqual(run.job(0), "Done")
        self.assertIn("Job 0 Done 2024-05-06 07:08:09", run.lines)
        self.assertEqual(self.local("a.bin"), BODY)

    def test_existing_target_gets_a_unique_name(self):
        with open(os.path.join(self.out, "a.bin"), "wb") as f:
            f.write(b"old")
        run = self.wcopy("--unique", "--http", self.url("/files/a.bin"), *self.to())
        target = self.wine.windows_path(os.path.join(self.out, "a.bin"))
        self.assertIn("OnCopyOverWrite " + target, run.lines)
        self.assertEqual(self.local("a.bin"), b"old")
        self.assertEqual(self.local("a(1).bin"), BODY)

        run = self.wcopy("--refuse-overwrite", "--http", self.url("/files/a.bin"), *self.to())
        self.assertEqual(run.job(0), "Failed")
        self.assertEqual(self.local("a.bin"), b"old")

    def test_existing_target_survives_a_failed_download(self):
        url = self.url("/files/a.bin")
        rows = [("closed early", Fault(truncate_at=10000)), ("reset", Fault(reset_at=10000)),
                ("404", Fault(status=404)), ("empty body", Fault(body=b""))]
        for why, fault in rows:
            with self.subTest(why=why):
                with open(os.path.join(self.out, "a.bin"), "wb") as f:
                    f.write(b"the user's only copy")
                self.server.script("/files/a.bin", fault)
                run = self.wcopy("--http", url, *self.to())
                self.assertEqual(run.job(0), "Failed", run.raw)
                self.assertEqual(self.local("a.bin"), b"the user's only copy")
                self.assertEqual(os.listdir(self.out), ["a.bin"])
        self.server.script("/files/a.bin", Fault())
        run = self.wcopy("--http", url, *self.to())
        self.assertEqual(run.job(0), "Done", run.raw)
        self.assertEqual(self.local("a.bin"), BODY)
        self.assertEqual(os.listdir(self.out), ["a.bin"])

    def test_credentials_never_follow_a_redirect_to_another_place(self):
        other = ScriptedHttpServer(tempfile.mkdtemp(prefix="wcopy-other-")).start()
        self.addCleanup(other.stop)
        other.put("/files/a.bin", b"from the other server")
        self.server.script("/files/moved.bin", status=302, headers={"Location": other.url + "files/a.bin"})
        self.server.script("/files/here.bin", status=301, headers={"Location": "/files/a.bin"})
        self.server.script("/files/a.bin", auth=("anna", "hemlig"))
        credentials = ["--user", "anna", "--password", "hemlig"]
        run = self.wcopy("--http", self.url("/files/moved.bin"), *self.to(), *credentials,
                         "--http", self.url("/files/here.bin"), *self.to(), *credentials)
        self.assertEqual([run.job(0), run.job(1)], ["Done", "Done"], run.raw)
        self.assertEqual(self.local("moved.bin"), b"from the other server")
        self.assertEqual(self.local("here.bin"), BODY)  # the same place keeps the credentials
        self.assertEqual([(r.path, r.header("Authorization")) for r in other.requests],
                         [("/files/a.bin", None)])
        self.assertEqual([(r.path, r.header("Authorization")) for r in self.server.requests],
                         [("/files/moved.bin", "Basic YW5uYTpoZW1saWc="),
                          ("/files/here.bin", "Basic YW5uYTpoZW1saWc="),
                          ("/files/a.bin", "Basic YW5uYTpoZW1saWc=")])

    def test_proxy_credentials_go_to_the_proxy_only(self):
        proxy = ProxyServer(("pu", "pp")).start()
        self.addCleanup(proxy.stop)
        url = self.url("/files/a.bin")
        run = self.wcopy("--no-dialog", "--proxy", f"127.0.0.1:{proxy.port}", "--proxy-user", "pu",
                         "--proxy-password", "pp", "--http", url, *self.to())
        self.assertEqual(run.job(0), "Done", run.raw)
        self.assertEqual(self.local("a.bin"), BODY)
        self.assertNotIn("pp", run.raw)
        # Asked without, then answered with the proxy's own credentials (the network library
        # may ask once more itself); the URL the proxy was asked for and the request the server
        # got carry none.
        self.assertEqual({r[0] for r in proxy.requests}, {url})
        self.assertEqual(proxy.requests[0][1], None)
        self.assertEqual(proxy.requests[-1][1], "Basic cHU6cHA=")
        self.assertEqual([(r.path, r.header("Authorization")) for r in self.server.requests],
                         [("/files/a.bin", None)])

    def test_waiting_on_a_slow_server_does_not_spin(self):
        # A spinning wait burns a whole core; the bound only tells waiting from spinning (the
        # CPU share itself is a figure of scripts/bench).
        self.server.script("/files/a.bin", body=b"x" * 40, trickle=(4, 0.4, 10))
        run = self.wcopy("--cpu-times", "--http", self.url("/files/a.bin"), *self.to(), timeout=60)
        self.assertEqual(run.job(0), "Done", run.raw)
        fields = next(l for l in run.lines if l.startswith("ExecuteTimes")).split()
        cpu, wall = float(fields[2]), float(fields[4])
        self.assertGreater(wall, 3.0)
        self.assertLess(cpu / wall, 0.5)


if __name__ == "__main__":
    unittest.main()
