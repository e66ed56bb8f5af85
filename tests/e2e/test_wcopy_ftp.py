"""FTP transfers of the transfer component end to end: wcopy.exe under Wine (real WinInet)
against a local pyftpdlib server, in active and in passive mode; each test reads the events
wcopy prints, the files it leaves and the commands the server saw."""
import os
import shutil
import tempfile
import unittest

from harness.dialogs import DialogDriver
from harness.ftp import LocalFtpServer
from harness.wcopy import WcopyRun, run_wcopy
from harness.wine import Wine

BODY = bytes(range(256)) * 80  # 20480 bytes: five blocks
MODES = (("active", []), ("passive", ["--passive"]))


@unittest.skipUnless(os.environ.get("WCOPY_EXE"), "wcopy.exe is built only for Windows targets")
class WcopyFtpTest(unittest.TestCase):
    def setUp(self):
        self.wine = Wine.from_env()
        self.root = tempfile.mkdtemp(prefix="wcopy-ftp-")
        self.out = tempfile.mkdtemp(prefix="wcopy-out-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.addCleanup(shutil.rmtree, self.out, True)
        self.put("pub/a.bin", BODY)
        self.put("pub/b.txt", b"bee")

    def serve(self, **kw) -> LocalFtpServer:
        server = LocalFtpServer(self.root, **kw).start()
        self.addCleanup(server.stop)
        return server

    def put(self, path, data):
        full = os.path.join(self.root, *path.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)

    def remote(self, path):
        full = os.path.join(self.root, *path.split("/"))
        return open(full, "rb").read() if os.path.isfile(full) else None

    def local(self, *parts):
        path = os.path.join(self.out, *parts)
        return open(path, "rb").read() if os.path.isfile(path) else None

    def win(self, *parts):
        return self.wine.windows_path(os.path.join(self.out, *parts))

    def account(self, server, password="hemlig"):
        return ["--host", "127.0.0.1", "--port", str(server.port), "--user", "anna", "--password", password]

    def wcopy(self, *args, timeout=60):
        return run_wcopy(self, self.wine, "--no-dialog", *args, timeout=timeout)

    def test_downloads_and_upload_share_one_kept_connection(self):
        for mode, options in MODES:
            with self.subTest(mode):
                server = self.serve()
                acc = self.account(server)
                with open(os.path.join(self.out, "up.bin"), "wb") as f:
                    f.write(BODY[::-1])
                run = self.wcopy(*options,
                                 "--ftp", "pub/a.bin", "--to", self.win("dl", mode), *acc,
                                 "--ftp", "pub/b.txt", "--to", self.win("dl", mode), *acc,
                                 "--ftp-upload", self.win("up.bin"), "--to", f"{mode}\\in/2024", *acc,
                                 "--ftp-upload", self.win("up.bin"), "--to", f"{mode}\\in/2024", "--name", "2.bin", *acc)
                self.assertEqual(run.exit_code, 0, run.raw + repr(server.commands))
                self.assertEqual(self.local("dl", mode, "a.bin"), BODY)
                self.assertEqual(self.local("dl", mode, "b.txt"), b"bee")
                self.assertEqual(self.remote(f"{mode}/in/2024/up.bin"), BODY[::-1])
                self.assertEqual(self.remote(f"{mode}/in/2024/2.bin"), BODY[::-1])
                self.assertEqual((server.connections, server.count("PASS")), (1, 1), server.commands)
                self.assertEqual(server.count("PASV") + server.count("EPSV") > 0, mode == "passive")
                self.assertEqual(server.count("MKD"), 3, "made part by part, once")

    def test_mask_download_and_folder_upload(self):
        server = self.serve()
        self.put("pub/c.txt", b"sea")
        os.makedirs(os.path.join(self.out, "up"))
        for name in ("x.txt", "y.txt", "z.bin"):
            with open(os.path.join(self.out, "up", name), "wb") as f:
                f.write(name.encode())
        run = self.wcopy("--passive", "--multi-ftp", "pub\\*.txt", "--to", self.win("new", "sub"), *self.account(server),
                         "--multi-ftp-upload", self.win("up", "*.txt"), "--to", "/drop/box", *self.account(server))
        self.assertEqual(run.exit_code, 0, run.raw)
        self.assertEqual(sorted(os.listdir(os.path.join(self.out, "new", "sub"))), ["b.txt", "c.txt"])
        self.assertEqual(self.local("new", "sub", "c.txt"), b"sea")
        self.assertEqual(sorted(os.listdir(os.path.join(self.root, "drop", "box"))), ["x.txt", "y.txt"])
        self.assertEqual([l for l in run.events() if l.startswith("OnMultiFTP")],
                         ["OnMultiFTPFileDone b.txt", "OnMultiFTPFileDone c.txt",
                          "OnMultiFTPFileDone x.txt", "OnMultiFTPFileDone y.txt"])

    def test_listing_and_deletion(self):
        server = self.serve()
        os.utime(os.path.join(self.root, "pub", "a.bin"), (1583280000, 1583280000))  # 2020-03-04
        os.makedirs(os.path.join(self.root, "pub", "sub"))
        acc = self.account(server)
        run = self.wcopy("--ftp-list", "pub/*", *acc,
                         "--ftp-delete", "b.txt", "--to", "pub", *acc,
                         "--ftp-delete", "b.txt", "--to", "pub", *acc,
                         "--ftp-list", "pub/*.none", *acc)
        # The second deletion finds nothing: Done for the component, a failure for the exit code.
        self.assertEqual(run.exit_code, 1, run.raw)
        self.assertEqual(run.raw.splitlines()[-1].rstrip("\r"), "Failed jobs: 2")
        entries = [l.rstrip("\r") for l in run.raw.splitlines() if l.startswith("Entry ")]
        self.assertEqual([e.split()[:4] for e in entries],
                         [["Entry", "0", "a.bin", "20480"], ["Entry", "0", "b.txt", "3"], ["Entry", "0", "sub", "0"]])
        self.assertEqual(entries[0].split()[4], "2020-03-04")  # a listing older than half a year has no time
        self.assertEqual([l for l in run.events() if l.startswith("OnRemoved")],
                         ["OnRemovedFile 1", "OnRemovedFileFailed 2"])
        self.assertIsNone(self.remote("pub/b.txt"))
        self.assertEqual(self.remote("pub/a.bin"), BODY)

    def test_refused_login_and_dropped_data_connection(self):
        server = self.serve(drop_after=10000)
        os.makedirs(os.path.join(self.out, "dl"))
        with open(os.path.join(self.out, "dl", "a.bin"), "wb") as f:
            f.write(b"old")
        for mode, options in MODES:
            with self.subTest(mode):
                run = self.wcopy(*options, "--ftp", "pub/a.bin", "--to", self.win("dl"), *self.account(server, "fel"),
                                 "--ftp", "pub/a.bin", "--to", self.win("dl"), *self.account(server))
                self.assertEqual([run.job(0), run.job(1)], ["Failed", "Failed"], run.raw)
                self.assertEqual(run.events(), [
                    "OnFileStart 0", "OnError 6", "OnErrorInfo 6 Cannot connect to FTP server 127.0.0.1", "OnFileDone 0",
                    "OnFileStart 1", "OnCopyOverWrite " + self.win("dl", "a.bin"),
                    "OnError 4", "OnErrorInfo 4 Error reading source file pub/a.bin", "OnFileDone 1", "OnCopyDone"])
                self.assertEqual(os.listdir(os.path.join(self.out, "dl")), ["a.bin"])
                self.assertEqual(self.local("dl", "a.bin"), b"old")

    @unittest.skipUnless(os.environ.get("DLGDRIVER_EXE"), "dlgdriver.exe is built only for Windows targets")
    def test_cancel_during_a_transfer(self):
        self.put("pub/big.bin", BODY * 4)
        server = self.serve(rate=16384)
        with open(os.path.join(self.out, "big.bin"), "wb") as f:
            f.write(b"old")
        for mode, options in MODES:
            with self.subTest(mode):
                driver = DialogDriver(self.wine, ["--wait-caption", "Downloading ...", "--wait-progress", "20",
                                                  "--click", "Cancel", "--wait-gone"])
                try:
                    run = WcopyRun(self.wine.run(os.environ["WCOPY_EXE"], [
                        *options, "--ftp", "pub/big.bin", "--to", self.win(), *self.account(server),
                        "--ftp", "pub/b.txt", "--to", self.win(), *self.account(server)], timeout=60))
                    report = driver.finish(timeout=40)
                finally:
                    driver.kill()
                self.assertTrue(report.completed, report.describe() + "\nwcopy: " + run.raw)
                self.assertEqual([run.job(0), run.job(1)], ["Failed", "Failed"], run.raw)
                self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0",
                                                "OnCopyOverWrite " + self.win("big.bin"), "OnCopyCancel", "OnCopyDone"])
                self.assertEqual(sorted(os.listdir(self.out)), ["big.bin"])
                self.assertEqual(self.local("big.bin"), b"old")


if __name__ == "__main__":
    unittest.main()
