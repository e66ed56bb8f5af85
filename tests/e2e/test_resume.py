"""A broken download continues where it stopped, and a silent server never holds the user:
the launcher across starts, and wcopy --resume, against a server that cuts bodies at planned
offsets, serves ranges of an ETag'd file and can fall silent after its headers."""
import os
import time
import unittest

import shutil
import tempfile

from harness.launcher import NEW, STAMP, LauncherCase
from harness.server import Fault, ScriptedHttpServer
from test_signed import SignedCase, manifest
from harness.wcopy import run_wcopy
from harness.wine import Wine

NEWER = b"2013-07-18 12:00:00"
STALL_LIMIT = 20   # the launcher's
ETAG = '"rel-2"'


class LauncherResumeTest(LauncherCase):

    def program(self, version):
        with open(self.managed_exe[version], "rb") as f:
            return f.read()

    def resume_files(self):
        return [n for n in self.files() if n.endswith((".partial", ".resume"))]

    def test_program_broken_twice_arrives_whole_on_the_third_start(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        size = len(self.program("v2"))
        at40, at80 = size * 4 // 10, size * 8 // 10
        bin_path = self.url_path("Kassa.bin")
        # Each start tries three times (two retries); every try of a start breaks at its mark.
        self.server.script(bin_path, etag=ETAG, ranges=True, cuts=[at40] * 3 + [at80] * 3)

        for start, mark in ((1, at40), (2, at80)):
            run = self.launch(["/x"])
            self.assertExitedNormally(run)
            self.assertNoMessages(run)
            self.assertEqual(self.starts()[-1].version, "v1", f"start {start} keeps the installed program")
            self.assertEqual(self.installed_version(), "v1")
            self.assertEqual(self.read(".dat"), STAMP, "the stamp waits for the program")
            self.assertEqual(len(self.resume_files()), 2, self.files())
            part = [n for n in self.resume_files() if n.endswith(".partial")][0]
            with open(os.path.join(self.app, part), "rb") as f:
                self.assertEqual(f.read(), self.program("v2")[:mark])

        run = self.launch(["/x"])
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertEqual(self.installed_version(), "v2")
        self.assertEqual(self.starts()[-1].version, "v2")
        self.assertEqual(self.read(".dat"), NEW)
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe", "Kassa.prev.exe"])
        ranges = [r.header("Range") for r in self.server.requests if r.path == bin_path]
        # Start 1: the whole, then two retries from 40%; start 2: from 40%, then two retries
        # from 80%; start 3: the rest from 80%.
        self.assertEqual(ranges, [None, f"bytes={at40}-", f"bytes={at40}-", f"bytes={at40}-",
                                  f"bytes={at80}-", f"bytes={at80}-", f"bytes={at80}-"])
        self.assertTrue(all(r.header("If-Range") == ETAG for r in self.server.requests
                            if r.path == bin_path and r.header("Range")))
        self.assertLessEqual(self.server.sent[bin_path], size * 1.1)
        self.assertGreaterEqual(self.server.sent[bin_path], size)

    def test_a_changed_file_or_stamp_is_fetched_whole(self):
        rows = [  # (why, stamp of the second start, ETag of the second start's file, Range asked)
            ("new file, same stamp", NEW, '"rel-3"', True),
            ("new stamp", NEWER, ETAG, False),
        ]
        for why, stamp, etag, range_asked in rows:
            with self.subTest(why=why):
                self.fresh()
                self.install("v1")
                self.write(".dat", STAMP)
                # The first start gets part of one file (v1's bytes stand in for an old
                # release), the second start is offered v2 under the new validator or stamp.
                self.publish(NEW, "v1")
                bin_path = self.url_path("Kassa.bin")
                half = len(self.program("v1")) // 2
                self.server.script(bin_path, etag=ETAG, ranges=True, cuts=[half] * 3)
                run = self.launch()
                self.assertExitedNormally(run)
                self.assertEqual(self.installed_version(), "v1")
                self.assertEqual(len(self.resume_files()), 2)

                self.publish(stamp, "v2")
                self.server.script(bin_path, etag=etag, ranges=True)
                before = self.server.sent[bin_path]
                run = self.launch()
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertEqual(self.installed_version(), "v2")
                self.assertEqual(self.starts()[-1].version, "v2")
                self.assertEqual(self.read(".dat"), stamp)
                self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe", "Kassa.prev.exe"])
                last = [r for r in run.requests if r.path == bin_path][-1]
                self.assertEqual(last.header("Range") is not None, range_asked)
                self.assertEqual(self.server.sent[bin_path] - before, len(self.program("v2")))

    def test_a_silent_server_starts_the_installed_program_within_the_stall_limit(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        # Headers and 4 KiB, then nothing for longer than the limit and the test's patience.
        self.server.script(self.url_path("Kassa.bin"), etag=ETAG, ranges=True, silence=(4096, 60))
        began = time.monotonic()
        run = self.launch(["/x"], timeout=STALL_LIMIT + 30)
        took = time.monotonic() - began
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v1", [b"/x"])
        self.assertGreaterEqual(took, STALL_LIMIT)
        self.assertLess(took, STALL_LIMIT + 15, "the old program starts soon after the limit")
        self.assertEqual(self.read(".dat"), STAMP)
        self.assertEqual(run.paths, [self.url_path("Kassa.txt"), self.url_path("Kassa.bin")],
                         "a stall is not tried again in the same start")

    def test_a_server_that_never_answers_starts_the_installed_program_within_the_stall_limit(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        self.server.script(self.url_path("Kassa.txt"), mute=60)
        began = time.monotonic()
        run = self.launch(["/x"], timeout=STALL_LIMIT + 30)
        took = time.monotonic() - began
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v1", [b"/x"])
        self.assertGreaterEqual(took, STALL_LIMIT)
        self.assertLess(took, STALL_LIMIT + 15)
        self.assertEqual(self.read(".dat"), STAMP, "no word from the server: the stamp stays")
        self.assertEqual(run.paths, [self.url_path("Kassa.txt")])


@unittest.skipUnless(os.environ.get("STARTER_SIGNED_EXE"), "no launcher built with a test key")
class SignedResumeTest(SignedCase):

    def test_a_signed_update_resumed_across_starts_still_refuses_a_changed_file(self):
        rows = [  # (why, the rest the server sends on the second start, installed after it)
            ("the same file", False, "v2"),
            ("a file changed under the same validator", True, "v1"),
        ]
        for why, tamper, version in rows:
            with self.subTest(why=why):
                self.fresh()
                recorded = self.install_signed()
                program = self.program("v2")
                txt = manifest(NEW, program)
                self.serve_signed(txt, program)
                bin_path = self.url_path("Kassa.bin")
                half = len(program) // 2
                self.server.script(bin_path, etag=ETAG, ranges=True, cuts=[half] * 3)
                run = self.launch(["/x"])
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertStarted("v1", [b"/x"])
                self.assertEqual(self.read(".dat"), recorded)
                self.assertEqual(run.paths, [self.url_path("Kassa." + e) for e in ("txt", "sig", "bin", "bin", "bin")])
                parts = [n for n in os.listdir(self.app) if n.endswith(".partial")]
                self.assertEqual(len(parts), 1, os.listdir(self.app))

                if tamper:   # the second half is someone else's, the ETag the same
                    changed = program[:half] + bytes(b ^ 0x5A for b in program[half:])
                    self.server.put(bin_path, changed)
                run = self.launch(["/x"])
                asked = [r.header("Range") for r in run.requests if r.path == bin_path]
                self.assertEqual(asked, [f"bytes={half}-"], "only the rest is asked for")
                self.assertEqual(self.installed_version(), version)
                self.assertEqual(self.starts()[-1].version, version)
                if tamper:
                    self.assertEqual(self.read(".dat"), recorded)
                else:
                    self.assertEqual(self.read(".dat"), txt)
                self.assertTrue(set(self.files()) <= {"Kassa.dat", "Kassa.exe", "Kassa.prev.exe", "Kassa.txt"},
                                self.files())


@unittest.skipUnless(os.environ.get("WCOPY_EXE"), "wcopy.exe is built only for Windows targets")
class WcopyResumeTest(unittest.TestCase):
    def setUp(self):
        self.wine = Wine.from_env()
        self.server = ScriptedHttpServer(tempfile.mkdtemp(prefix="wcopy-srv-")).start()
        self.addCleanup(self.server.stop)
        self.out = tempfile.mkdtemp(prefix="wcopy-out-")
        self.addCleanup(shutil.rmtree, self.out, True)

    def fetch(self, path, *extra):
        return run_wcopy(self, self.wine, "--no-dialog", "--stall-timeout", "3", "--http",
                         self.server.url + path.lstrip("/"), "--to", self.wine.windows_path(self.out),
                         "--resume", *extra)

    def target(self):
        with open(os.path.join(self.out, "big.bin"), "rb") as f:
            return f.read()

    def test_resume_continues_and_an_existing_target_survives_every_failure(self):
        data = bytes(range(256)) * 4096   # 1 MiB
        path = "/files/big.bin"
        self.server.put(path, data)
        with open(os.path.join(self.out, "big.bin"), "wb") as f:
            f.write(b"old")
        rows = [  # (why, fault of the server)
            ("cut thrice", Fault(etag=ETAG, ranges=True, cuts=[300000, 500000, 700000])),
            ("silent", Fault(etag=ETAG, ranges=True, silence=(10000, 30))),
            ("error on the rest", Fault(status=503)),
        ]
        for why, fault in rows:
            with self.subTest(why=why):
                self.server.script(path, fault)
                run = self.fetch(path)
                self.assertEqual(run.exit_code, 1, run.raw)
                self.assertEqual(self.target(), b"old")
                self.assertTrue(any(l.startswith("OnErrorInfo") for l in run.lines), run.raw)

        self.server.script(path, Fault(etag=ETAG, ranges=True))
        run = self.fetch(path)
        self.assertEqual(run.exit_code, 0, run.raw)
        self.assertEqual(self.target(), data)
        asked = [r.header("Range") for r in self.server.requests]
        self.assertEqual(asked[:4], [None, "bytes=300000-", "bytes=500000-", "bytes=700000-"])
        # What the silent server sent before it fell silent is kept, as far as it was read.
        self.assertEqual(asked[4], asked[5], "the error on the rest keeps the part")
        self.assertLessEqual(700000, int(asked[5][6:-1]))
        self.assertLessEqual(int(asked[5][6:-1]), 710000)
        self.assertEqual(len(asked), 6)
        self.assertEqual(sorted(os.listdir(self.out)), ["big.bin"])

        # A part, then a server that sends a range of another file: refused, part gone.
        self.server.script(path, Fault(etag=ETAG, ranges=True, cuts=[300000] * 3))
        self.assertEqual(self.fetch(path).exit_code, 1)
        self.server.script(path, Fault(etag='"other"', ranges=True, if_range=False))
        run = self.fetch(path)
        self.assertEqual(run.exit_code, 1, run.raw)
        self.assertIn("OnErrorInfo 206 Returned http error code 206", run.lines)
        self.assertEqual(self.target(), data)
        self.assertEqual(sorted(os.listdir(self.out)), ["big.bin"])


if __name__ == "__main__":
    unittest.main()
