"""The launcher end to end under Wine: starter.exe copied as Kassa.exe, a local update
server, managed.exe as the program it keeps up to date. One test per outcome of a run."""
import hashlib
import os
import shutil
import unittest

from harness.launcher import DEFAULT_STAMP, MSG_IN_USE, MSG_MISSING, MSG_NOT_STARTED, NEW, STAMP, LauncherCase
from harness.server import Fault

OLD = b"2013-07-18 09:00:00"


class LauncherTest(LauncherCase):

    def test_no_update_program_started_minimised_with_arguments(self):
        self.install("v1")
        self.write(".dat", STAMP + b"\r\nlocal copy")
        self.publish(STAMP + b"\r\nserver copy")
        # Each argument arrives as it was given: one with a blank, a tab or a quote is quoted
        # (backslashes before a quote doubled, quotes escaped), the others keep their text.
        args = ["/x", "c:\\data", "C:\\Mina filer\\order 7.kas", 'say "hi"', "tab\there", "C:\\dir x\\", "a\\b"]
        run = self.launch(args)
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        start = self.assertStarted("v1", [b"/x", b"c:\\data", b'"C:\\Mina filer\\order 7.kas"', b'"say \\"hi\\""',
                                          b'"tab\there"', b'"C:\\dir x\\\\"', b"a\\b"])
        self.assertEqual(start.args, [a.encode() for a in args])
        self.assertEqual(run.paths, [self.url_path("Kassa.txt")])
        self.assertEqual(run.requests[0].header("User-Agent"), "WebCopy")
        # Equal stamps: the server stamp file still replaces the local one.
        self.assertEqual(self.read(".dat"), STAMP + b"\r\nserver copy")
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe"])

    def test_update_replaces_the_program_and_starts_the_new_one(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW + b"\r\n", "v2")
        run = self.launch(["/x"])
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v2", [b"/x"])
        self.assertEqual(self.installed_version(), "v2")
        self.assertEqual(run.paths, [self.url_path("Kassa.txt"), self.url_path("Kassa.bin")])
        self.assertEqual(self.read(".dat"), NEW + b"\r\n")
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe", "Kassa.prev.exe"])

    def test_stamp_comparison_decides_the_update(self):
        rows = [  # (local stamp file or None, server stamp file, update expected)
            (None, NEW, True),                                   # against the default 2001-01-01 00:00:00
            (None, b"2000-12-31 23:59:59", False),               # older than the default
            (STAMP, STAMP, False),                               # equal
            (STAMP, OLD, False),                                 # older on the server: still recorded below
            (STAMP, STAMP + b" ", False),                        # blanks after a stamp do not count
            (STAMP, b"\xef\xbb\xbf" + NEW, True),                 # nor does a UTF-8 mark before it
            (STAMP, STAMP + b"\r\n2099-01-01 00:00:00", False),  # only the first line counts
            (b"\r\n" + NEW, OLD, True),                          # an empty first line: any stamp is newer
        ]
        self.assertLess(DEFAULT_STAMP, NEW)
        for local, server, update in rows:
            with self.subTest(local=local, server=server):
                self.fresh()
                self.install("v1")
                if local is not None:
                    self.write(".dat", local)
                self.publish(server, "v2")
                run = self.launch()
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertStarted("v2" if update else "v1")
                expected = [self.url_path("Kassa.txt")] + ([self.url_path("Kassa.bin")] if update else [])
                self.assertEqual(run.paths, expected)
                self.assertEqual(self.read(".dat"), server)
                self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe"] + (["Kassa.prev.exe"] if update else []))

    def test_stamp_unavailable_program_started_and_local_stamp_kept(self):
        rows = [  # (why, fault on managedfiles/Kassa.txt (None: no server at all), newer Kassa.txt left before)
            ("unreachable", None, False),
            ("not found", Fault(status=404), True),
            ("server error", Fault(status=500), False),
            ("needs a login", Fault(auth=("user", "secret")), True),
        ]
        for why, fault, left_over in rows:
            with self.subTest(why=why):
                self.fresh()
                self.install("v1")
                self.write(".dat", STAMP)
                if left_over:   # an earlier run's stamp is no word from the server in this one
                    self.write(".txt", NEW)
                self.publish(NEW, "v2")
                if fault:
                    self.server.script(self.url_path("Kassa.txt"), fault)
                run = self.launch(["/x"], serve=fault is not None)
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertStarted("v1", [b"/x"])
                self.assertEqual(run.paths, [self.url_path("Kassa.txt")] if fault else [])
                self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe"])
                self.assertEqual(self.read(".dat"), STAMP, "an offline start keeps the record of what is installed")

    def test_new_program_unavailable_old_one_kept_and_started(self):
        rows = [  # (why, fault on managedfiles/Kassa.bin, Kassa.bin left by an earlier run)
            ("not found", Fault(status=404), None),
            ("cut short", Fault(truncate_at=4096), None),
            ("connection reset", Fault(reset_at=4096), None),
            ("empty body", Fault(body=b""), None),
            ("not found, a program left before", Fault(status=404), "v2"),
        ]
        for why, fault, left_over in rows:
            with self.subTest(why=why):
                self.fresh()
                self.install("v1")
                self.write(".dat", STAMP)
                if left_over:
                    shutil.copyfile(self.managed_exe[left_over], self.path(".bin"))
                self.publish(NEW, "v2")
                self.server.script(self.url_path("Kassa.bin"), fault)
                run = self.launch(["/x"])
                self.assertOldProgramKept(run, [b"/x"], STAMP, NEW)

    def test_program_missing_reported_with_its_path(self):
        self.write(".dat", STAMP)
        self.publish(STAMP, "v2")
        run = self.launch(["/x"])
        self.assertExitedNormally(run)
        self.assertMessage(run, MSG_MISSING % self.win_path(".exe"))
        self.assertNothingStarted()
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.txt"])
        self.assertEqual((self.read(".dat"), self.read(".txt")), (STAMP, STAMP))

    def test_a_file_that_is_not_a_windows_program_is_never_installed(self):
        with open(self.managed_exe["v2"], "rb") as f:
            v2 = f.read()
        library = bytearray(v2)
        pe = int.from_bytes(v2[0x3C:0x40], "little")
        library[pe + 22 + 1] |= 0x20      # IMAGE_FILE_DLL in the file header's characteristics
        rows = [  # (why, N.bin)
            ("MZ but not a program", b"MZ but not a program\r\n" * 100),
            ("a library", bytes(library)),
        ]
        for why, program in rows:
            with self.subTest(why=why):
                self.fresh()
                self.install("v1")
                self.write(".dat", STAMP)
                self.server.put(self.url_path("Kassa.txt"), NEW)
                self.server.put(self.url_path("Kassa.bin"), program)
                run = self.launch(["/x"])
                self.assertOldProgramKept(run, [b"/x"], STAMP, NEW)

    def test_a_program_that_cannot_start_after_the_update_is_reported(self):
        """A first install (no previous program) of a release that crashes: reported, and
        recorded in N.bad so the next start does not fetch it again."""
        self.write(".dat", STAMP)
        self.server.put(self.url_path("Kassa.txt"), NEW)
        with open(os.environ["MANAGED_CRASH_EXE"], "rb") as f:
            self.server.put(self.url_path("Kassa.bin"), f.read())
        run = self.launch(["/x"])
        self.assertExitedNormally(run)
        self.assertMessage(run, MSG_NOT_STARTED % self.win_path(".exe"))
        self.assertNothingStarted()
        self.assertEqual(self.read(".dat"), STAMP)
        self.assertEqual(self.read(".bad"), NEW + b"\r\n")
        run = self.launch(["/x"])
        self.assertEqual(run.paths, [self.url_path("Kassa.txt")])

    def test_program_running_while_an_update_arrives(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        self.start_installed(["--stay=60000"])
        run = self.launch(["/x"])
        self.assertExitedNormally(run)
        self.assertMessage(run, MSG_IN_USE)
        self.assertNothingStarted(before=1)
        self.assertEqual(self.installed_version(), "v1")
        # The running program was copied, never moved: it is where it was.
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe", "Kassa.prev.exe", "Kassa.txt"])
        self.assertEqual((self.read(".dat"), self.read(".txt")), (STAMP, NEW))

    def test_names_and_title_come_from_the_launcher_file_name(self):
        rows = [  # (launcher file, base name, title of its message boxes)
            ("KASSA.EXE", "KASSA", b"Kassa"),
            ("kassa.exe", "kassa", b"kassa"),
            ("Kassa.Test.exe", "Kassa.Test", b"Kassa"),
        ]
        for launcher, base, title in rows:
            with self.subTest(launcher=launcher):
                self.fresh()
                run = self.launch(launcher=launcher)   # no program installed: a message to read
                self.assertExitedNormally(run)
                self.assertMessage(run, MSG_MISSING % self.win_path(".exe", base), caption=title)
                self.assertEqual(run.paths, [self.url_path(base + ".txt")])

    def test_empty_appdata_uses_the_current_drive(self):
        # The launcher runs in C:\e2e\...\bin, so \Brakven\Applikationer\ is on drive C.
        self.use_appdata(None)
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        run = self.launch(["/x"])
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v2", [b"/x"])
        self.assertEqual(self.read(".dat"), NEW)

    def test_empty_stamp_file_is_the_empty_stamp(self):
        rows = [  # (empty file, local stamp file, server stamp file, update expected, local stamp file after)
            ("local", b"", NEW, True, NEW),         # any non-empty server stamp is newer
            ("server", STAMP, b"", False, STAMP),   # an empty server stamp never asks for an update, nor is recorded
        ]
        for why, local, server, update, recorded in rows:
            with self.subTest(empty=why):
                self.fresh()
                self.install("v1")
                self.write(".dat", local)
                self.publish(server, "v2")
                run = self.launch()
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertStarted("v2" if update else "v1")
                self.assertEqual(self.read(".dat"), recorded)

    def test_each_run_leaves_one_line_in_the_log(self):
        """N.log: one line per run, newest last, under 64 KiB from its first line on; a log
        that is a folder, read-only or a huge planted file changes nothing the customer sees."""
        with open(self.managed_exe["v1"], "rb") as f:
            v1 = f.read()
        old = b"2026-01-01 00:00:00 | up to date | local - | server - | fetched Kassa.txt 21 | from x\r\n"
        self.install("v1")
        self.write(".dat", STAMP)
        self.write(".log", b"\x00planted\xff\r\n" + old * (65000 // len(old)))
        self.publish(NEW + b"\r\n", "v2")
        newer = b"2013-07-18 12:00:00"
        tampered = v1[:-1] + bytes([v1[-1] ^ 1])
        manifest = newer + b"\r\nsha256 %s\r\nsize %d\r\n" % (hashlib.sha256(v1).hexdigest().encode(), len(v1))
        portal = b"<html><body>Log in to the hotel network</body></html>"
        rows = [  # (why, N.txt, N.bin, fault on N.bin, served, version started, the line after its time)
            ("update", None, None, None, True, "v2",
             [b"installed", b"local " + STAMP, b"server " + NEW, b"fetched Kassa.txt 21, Kassa.bin %d" % os.path.getsize(self.managed_exe["v2"])]),
            ("portal page", portal, None, None, True, "v2",
             [b"refused: not a stamp", b"local " + NEW, b"server -", b"fetched Kassa.txt %d" % len(portal)]),
            ("tampered program", manifest, tampered, None, True, "v2",
             [b"refused: hash mismatch", b"local " + NEW, b"server " + newer, b"fetched Kassa.txt %d, Kassa.bin %d" % (len(manifest), len(v1))]),
            ("trickle", manifest, v1, Fault(trickle=(10, 1.0, 30)), True, "v2",
             [b"stalled", b"local " + NEW, b"server " + newer]),
            ("server down", None, None, None, False, "v2", [b"offline", b"local " + NEW, b"server -", b"fetched Kassa.txt 0"]),
        ]
        for why, txt, program, fault, served, version, fields in rows:
            with self.subTest(why=why):
                if txt is not None:
                    self.server.put(self.url_path("Kassa.txt"), txt)
                if program is not None:
                    self.server.put(self.url_path("Kassa.bin"), program)
                self.server.script(self.url_path("Kassa.bin"), fault)
                before = len(self.starts())
                run = self.launch(["/x"], serve=served)
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertEqual([s.version for s in self.starts()[before:]], [version])
                log = self.read(".log")
                self.assertLess(len(log), 64 * 1024)
                self.assertTrue(log.startswith(old), "the planted line and the oldest ones went, whole")
                lines = log.split(b"\r\n")
                self.assertEqual(lines[-1], b"")
                for line in lines[:-1]:
                    self.assertRegex(line, rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \| [^\x00-\x1f]*$")
                self.assertEqual(lines[-2].split(b" | ")[1:1 + len(fields)], fields)
                self.assertTrue(lines[-2].endswith(b" | from " + self.BASE_URL.encode()))

        # The log attacked: the launcher runs as before, and a log it can replace heals.
        self.server.put(self.url_path("Kassa.txt"), NEW)
        for why in ("folder", "read-only", "huge"):
            with self.subTest(why=why):
                log = self.path(".log")
                if os.path.isdir(log):
                    os.rmdir(log)
                elif os.path.exists(log):
                    os.chmod(log, 0o644)
                    os.remove(log)
                if why == "folder":
                    os.mkdir(log)
                else:
                    with open(log, "wb") as f:
                        f.write(old)
                        f.truncate(5 << 30 if why == "huge" else len(old))
                    os.chmod(log, 0o444 if why == "read-only" else 0o644)
                before = len(self.starts())
                run = self.launch(["/x"])
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertEqual([s.version for s in self.starts()[before:]], ["v2"])
                if why == "folder":
                    self.assertTrue(os.path.isdir(self.path(".log")))
                if why == "huge":
                    self.assertRegex(self.read(".log"), rb"^[^\r\n]* \| up to date \| [^\r\n]*\r\n$")


if __name__ == "__main__":
    unittest.main()
