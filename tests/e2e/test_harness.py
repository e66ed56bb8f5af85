"""Checks of the Wine side of the harness: running programs, the registry, boxwatch and
the managed-program stand-in, with the helper programs only."""
import os
import time
import unittest

from harness.boxwatch import BoxWatch
from harness.managed import read_starts
from harness.wine import SHELL_FOLDERS, Wine


class WineHarnessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine.from_env()
        cls.msgbox = os.environ["MSGBOX_EXE"]
        cls.work = os.path.join(cls.wine.drive_c, "e2e", "harness")
        os.makedirs(cls.work, exist_ok=True)

    def test_message_boxes_are_recorded_byte_exact_and_dismissed(self):
        text = b"N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren \r\nC:\\x\\Kassa.exe saknas"
        cases = [  # (MessageBox type, icon shown, exit code)
            (0x00, False, 0),
            (0x10, True, 7),   # MB_ICONERROR
        ]
        with BoxWatch(self.wine) as watch:
            results = [self.wine.run(self.msgbox, [b"Kassa".hex(), text.hex(), str(code), str(kind)], timeout=60)
                       for kind, _, code in cases]
        self.assertEqual([(r.timed_out, r.exit_code) for r in results], [(False, code) for _, _, code in cases],
                         [r.output for r in results])
        self.assertEqual([(b.caption, b.text, b.icon, b.buttons) for b in watch.seen.boxes],
                         [(b"Kassa", text, icon, [b"OK"]) for _, icon, _ in cases])
        self.assertTrue(watch.seen.stopped_cleanly)

    def test_a_program_past_its_timeout_is_killed(self):
        started = time.monotonic()
        proc = self.wine.start(self.msgbox, [b"t".hex(), b"nobody answers".hex(), "0"])
        result = proc.wait(3)
        self.assertEqual((result.timed_out, result.exit_code), (True, None))
        self.assertLess(time.monotonic() - started, 15)
        self.assertFalse(proc.running())

    def test_managed_program_records_its_build_and_arguments(self):
        for version in ("v1", "v2"):
            with self.subTest(version=version):
                exe = os.path.join(self.work, f"Managed{version}.exe")
                with open(os.environ[f"MANAGED_{version.upper()}_EXE"], "rb") as src, open(exe, "wb") as dst:
                    dst.write(src.read())
                if os.path.exists(exe + ".log"):
                    os.remove(exe + ".log")
                r = self.wine.run(exe, ["/x", "c:\\data", "two words"], timeout=60)
                self.assertEqual(r.exit_code, 0)
                [start] = read_starts(exe + ".log")
                self.assertEqual((start.version, start.args), (version, [b"/x", b"c:\\data", b"two words"]))
                self.assertTrue(start.cmdline.endswith(b' /x c:\\data "two words"'), start.cmdline)

    def test_managed_program_stays_while_asked_to(self):
        exe = os.path.join(self.work, "Stayer.exe")
        with open(os.environ["MANAGED_V1_EXE"], "rb") as src, open(exe, "wb") as dst:
            dst.write(src.read())
        proc = self.wine.start(exe, ["--stay=2000"])
        time.sleep(1.0)
        self.assertTrue(proc.running())
        self.assertEqual(proc.wait(20).exit_code, 0)

    def test_appdata_can_be_pointed_anywhere_and_paths_map_both_ways(self):
        original = self.wine.reg_query(SHELL_FOLDERS, "AppData")
        self.assertTrue(original, "a fresh prefix has an AppData folder")
        self.addCleanup(self.wine.set_appdata, original)
        for value in ("C:\\e2e\\harness\\AppData", ""):
            with self.subTest(value=value):
                self.wine.set_appdata(value)
                self.assertEqual(self.wine.reg_query(SHELL_FOLDERS, "AppData"), value)
        inside = os.path.join(self.wine.drive_c, "e2e", "x y")
        self.assertEqual(self.wine.windows_path(inside), "C:\\e2e\\x y")
        self.assertEqual(self.wine.windows_path("/tmp/a"), "Z:\\tmp\\a")
        for path in (inside, "/tmp/a"):
            self.assertEqual(self.wine.unix_path(self.wine.windows_path(path)), path)


if __name__ == "__main__":
    unittest.main()
