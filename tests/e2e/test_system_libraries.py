"""System libraries come from the system folder only: with libraries of their names planted
beside the program and Windows' search order forced (native first, so the planted file would
win wherever it is looked at), the launcher and wcopy load none of them and work as usual."""
import os
import shutil
import subprocess
import unittest

from harness.launcher import NEW, STAMP, LauncherCase
from harness.wine import DLL_OVERRIDES

# The system libraries the programs import (COMCTL32, MPR, WININET, MSIMG32) and those that
# these load in turn during a run. Not here: VERSION and IMM32, which Wine's own USER32 loads
# while the process starts, before any code of the program runs (on Windows USER32 is a known
# library and does not); the build's import check covers the program's own side of VERSION.
PLANTED = ["comctl32", "mpr", "msimg32", "wininet", "msacm32", "msvfw32", "uxtheme", "winmm"]
NATIVE_FIRST = {"WINEDLLOVERRIDES": DLL_OVERRIDES + ";" + ",".join(PLANTED) + "=n,b"}


class SystemLibrariesTest(LauncherCase):

    def plant(self, folder):
        dll = os.environ.get("PLANTED_DLL", "")
        if not os.path.isfile(dll):
            self.skipTest("planted.dll not built")
        for name in PLANTED:
            shutil.copyfile(dll, os.path.join(folder, name + ".dll"))

    def assertNoneLoaded(self, folder):
        self.assertEqual(sorted(n for n in os.listdir(folder) if n.endswith(".loaded")), [],
                         "planted libraries were loaded")

    def test_launcher_updates_and_starts_with_libraries_planted_beside_it(self):
        self.plant(self.bin)
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW + b"\r\n", "v2")
        run = self.launch(["/x"], env=NATIVE_FIRST)
        self.assertNoneLoaded(self.bin)
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v2", [b"/x"])
        self.assertEqual(self.read(".dat"), NEW + b"\r\n")

    def test_system_library_that_cannot_be_loaded_is_reported(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        run = self.launch(env={"WINEDLLOVERRIDES": DLL_OVERRIDES + ";wininet=d"})
        self.assertFalse(run.timed_out, run.output)
        self.assertEqual(run.exit_code, 1)
        self.assertEqual([(b.caption, b.text) for b in run.seen.boxes],
                         [(b"Application Error",
                           b"Cannot load wininet.dll from the system folder (system error 126).")])
        self.assertNothingStarted()
        self.assertEqual(run.paths, [])

    def test_wcopy_downloads_with_libraries_planted_beside_it(self):
        wcopy = os.environ.get("WCOPY_EXE", "")
        if not os.path.isfile(wcopy):
            self.skipTest("wcopy.exe not built")
        self.plant(self.bin)
        exe = os.path.join(self.bin, "wcopy.exe")
        shutil.copyfile(wcopy, exe)
        body = bytes(range(256)) * 40
        self.server.put("/file.bin", body)
        self.server.start()
        out = os.path.join(self.work, "out")
        os.makedirs(out)
        result = self.wine.run(exe, ["--no-dialog", "--http", self.server.url + "file.bin", "--to",
                                     self.wine.windows_path(out)], cwd=self.bin, env=NATIVE_FIRST)
        self.assertNoneLoaded(self.bin)
        self.assertEqual(result.exit_code, 0, result.output)
        with open(os.path.join(out, "file.bin"), "rb") as f:
            self.assertEqual(f.read(), body)


    def test_publish_signs_with_bcrypt_planted_beside_it(self):
        """publish.exe holds the private key: a bcrypt.dll in its folder (a Downloads folder)
        must never run inside it."""
        publish = os.environ.get("PUBLISH_EXE", "")
        dll = os.environ.get("PLANTED_DLL", "")
        if not os.path.isfile(publish) or not os.path.isfile(dll):
            self.skipTest("publish.exe or planted.dll not built")
        exe = os.path.join(self.bin, "publish.exe")
        shutil.copyfile(publish, exe)
        shutil.copyfile(dll, os.path.join(self.bin, "bcrypt.dll"))
        shutil.copyfile(self.managed_exe["v2"], os.path.join(self.bin, "Kassa.exe"))
        env = {"WINEDLLOVERRIDES": DLL_OVERRIDES + ";bcrypt=n,b"}
        out = os.path.join(self.work, "out")
        os.makedirs(out)
        for args in (["keygen", "key.pem", "public.pem"],
                     ["Kassa", "Kassa.exe", self.wine.windows_path(out), "--key", "key.pem"]):
            result = self.wine.run(exe, args, cwd=self.bin, env=env)
            self.assertEqual(result.exit_code, 0, result.output)
        self.assertNoneLoaded(self.bin)
        openssl = os.environ.get("OPENSSL", "openssl")
        check = subprocess.run([openssl, "dgst", "-sha256", "-verify", os.path.join(self.bin, "public.pem"),
                                "-signature", os.path.join(out, "Kassa.sig"), os.path.join(out, "Kassa.txt")],
                               capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


if __name__ == "__main__":
    unittest.main()
