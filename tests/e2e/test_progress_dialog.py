"""The progress dialog as another program on the desktop sees and uses it: its geometry and
texts read back from the real windows while wcopy downloads a trickled body, and the Cancel
button pressed during the body, in wcopy and in the launcher."""
import os
import re
import unittest

from harness.dialogs import DialogDriver
from harness.launcher import NEW, STAMP, LauncherCase
from harness.wcopy import WcopyDialogCase

BODY = bytes(range(256)) * 256       # 65536 bytes: 16 blocks
SLOW = (4096, 0.2, 20)               # one block every 0.2 s: the dialog stays up about 3 s
BIG = bytes(range(256)) * 640        # 163840 bytes, 40 blocks, cancelled half way


class ProgressDialogTest(WcopyDialogCase):

    def setUp(self):
        super().setUp()
        self.server.put("/files/a.bin", BODY)
        self.server.put("/files/b.bin", BODY)

    def test_geometry_and_texts_follow_the_options(self):
        # (why, wcopy options, E, file line shown, cancel shown, open buttons, system menu, topmost)
        rows = [
            ("defaults", [], 0, True, True, False, False, True),
            ("time and elapsed", ["--show-time", "--show-elapsed"], 40, True, True, False, False, True),
            ("elapsed only", ["--show-elapsed", "--not-on-top", "--close-button"], 20, True, True, False, True, False),
            ("no cancel, no file line", ["--no-cancel", "--no-filename"], 0, False, False, False, False, True),
            ("open buttons", ["--open-file", "--open-folder"], 0, True, True, True, False, True),
        ]
        for why, options, extra, file_line, cancel, opens, sysmenu, topmost in rows:
            with self.subTest(why):
                self.server.script("/files/a.bin", trickle=SLOW)
                steps = ["--wait-caption", "Downloading ...", "--having", "File : a.bin",
                         "--wait-progress", "1", "--wait-text", "Transfer rate : ", "--wait-text", "Elapsed time : ",
                         "--dump"]
                if opens:  # the dialog stays after the run; its Close button ends wcopy
                    steps += ["--wait-text", "Close", "--dump", "--click", "Close", "--wait-gone"]
                run, seen = self.drive(steps, *options, "--http", self.url("/files/a.bin"), *self.to())
                self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
                self.assertEqual(self.local("a.bin"), BODY)
                os.remove(os.path.join(self.out, "a.bin"))

                d = seen.dialogs[0]
                h = d.caption_height
                self.assertGreater(h, 0)
                self.assertEqual(d.caption, b"Downloading ...")
                self.assertEqual((d.width, d.height), (300, h + extra + 188 - (0 if cancel else 20)))
                sw, sh = d.screen
                self.assertLessEqual(abs(d.left - (sw - d.width) // 2), 1, d)
                self.assertLessEqual(abs(d.top - (sh - d.height) // 2), 1, d)
                self.assertEqual((d.sysmenu, d.topmost), (sysmenu, topmost))

                base = 80 if file_line else 60
                row = extra + (140 if file_line else 120)
                line = d.find(b"File :")
                self.assertEqual(line.text, b"File : a.bin from 127.0.0.1:%d" % self.server.port)
                self.assertEqual((line.left, line.top, line.width, line.visible), (10, 80, 280, file_line))
                self.assertEqual(d.by_class("msctls_progress32")[0].rect, (10, 60, 280, 12))
                self.assertTrue(1 <= d.by_class("msctls_progress32")[0].pos <= 100)
                self.assertEqual([c.rect for c in d.by_class("SysAnimate32")], [(10, 0, 272, 60)])
                lines = [  # (label, top, shown, what follows the label)
                    (b"Progress : ", base + 20, True, rb"\d+([.,]\d\d Kb| bytes) of 65[.,]54 Kb"),
                    (b"Transfer rate : ", base + 40, True, rb"\d+([.,]\d\d)? (bytes|Kb|Mb)/sec"),
                    (b"Estimated time left : ", base + 60, "--show-time" in options, rb".+"),
                    (b"Elapsed time : ", base + 80, "--show-elapsed" in options, rb".+"),
                ]
                for label, top, shown, value in lines:
                    c = d.find(label)
                    self.assertEqual((c.left, c.top, c.visible), (10, top, shown), label)
                    self.assertRegex(c.text[len(label):], re.compile(value + rb"$"), label)
                    self.assertGreater(c.width, 0)

                buttons = [(c.text, c.left, c.top, c.width, c.visible, c.enabled) for c in d.by_class("Button")]
                expected = [(b"Cancel", 215, row, 75, cancel, True)]
                if opens:  # tab order: Cancel, Open folder, Open file; disabled while running
                    expected += [(b"Open folder", 130, row, 75, True, False), (b"Open file", 45, row, 75, True, False)]
                self.assertEqual(buttons, expected)

                if opens:
                    done = seen.dialogs[1]
                    self.assertEqual([(c.text, c.left, c.enabled) for c in done.by_class("Button")],
                                     [(b"Close", 215, True), (b"Open folder", 130, True), (b"Open file", 45, True)])
                    self.assertEqual(done.by_class("msctls_progress32")[0].pos, 100)
                    # Close keeps the Cancel handler: OnCopyCancel, then the dialog goes.
                    self.assertEqual(run.events()[-3:], ["OnCopyDone", "OnCopyCancel", "DialogClosed"])
                else:
                    self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0", "OnFileDone 0",
                                                    "OnCopyDone"])

    def test_cancel_during_the_body_deletes_the_partial_file(self):
        # The body goes to a temporary file beside the target; the target is never touched.
        rows = [  # (why, options, existing a.bin, name of the partial file)
            ("plain", [], None, "a.bin.part"),
            ("over an existing target", [], b"old", "a.bin.part"),
            ("unique name", ["--unique"], b"old", "a(1).bin.part"),
            # The dialog is kept after the run; the open buttons stay disabled after a cancel.
            ("open buttons", ["--open-file", "--open-folder"], None, "a.bin.part"),
        ]
        for why, options, existing, partial in rows:
            with self.subTest(why):
                for name in os.listdir(self.out):
                    os.remove(os.path.join(self.out, name))
                if existing is not None:
                    with open(os.path.join(self.out, "a.bin"), "wb") as f:
                        f.write(existing)
                self.server.script("/files/a.bin", body=BIG, trickle=(4096, 0.1, 20))
                before = len(self.server.requests)
                kept = "--open-file" in options
                steps = ["--wait-caption", "Downloading ...", "--having", "File : 1 of 2 : a.bin",
                         "--wait-progress", "50", "--file-exists", self.target(partial), "--click", "Cancel"]
                steps += ["--wait-text", "Close", "--dump", "--click", "Close"] if kept else []
                run, seen = self.drive(steps + ["--wait-gone"],
                                       *options, "--http", self.url("/files/a.bin"), *self.to(),
                                       "--http", self.url("/files/b.bin"), *self.to())
                self.assertEqual(seen.files, [(self.target(partial), True, seen.files[0][2])],
                                 "the partial file is there while the body arrives")
                self.assertGreaterEqual(seen.files[0][2], 4096)
                self.assertEqual(run.exit_code, 1, run.raw)
                self.assertEqual([run.job(0), run.job(1)], ["Failed", "Failed"])
                overwrite = ["OnCopyOverWrite " + self.target("a.bin")] if existing else []
                # Cancel stops the run after the current job: no OnFileDone, no second job.
                closed = ["OnCopyCancel", "DialogClosed"] if kept else []
                self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0", *overwrite, "OnCopyCancel",
                                                "OnCopyDone", *closed])
                self.assertEqual([r.path for r in self.server.requests[before:]], ["/files/a.bin"])
                self.assertEqual(sorted(os.listdir(self.out)), [] if existing is None else ["a.bin"])
                self.assertEqual(self.local("a.bin"), existing)
                if kept:
                    self.assertEqual([(c.text, c.enabled) for c in seen.dialogs[0].by_class("Button")],
                                     [(b"Close", True), (b"Open folder", False), (b"Open file", False)])


@unittest.skipUnless(os.environ.get("DLGDRIVER_EXE"), "dlgdriver.exe is built only for Windows targets")
class LauncherCancelTest(LauncherCase):

    def test_launcher_cancelled_update_keeps_and_starts_the_old_program(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        size = os.path.getsize(self.managed_exe["v2"])
        self.server.script(self.url_path("Kassa.bin"), trickle=(size // 30 + 1, 0.15, 20))
        # The body arrives under a temporary name beside N.bin.
        new_program = self.wine.windows_path(self.path(".bin.part"))
        driver = DialogDriver(self.wine, [
            "--wait-caption", "Downloading ...", "--having", "File : Kassa.bin", "--wait-progress", "5",
            "--wait-text", "Elapsed time : ", "--dump", "--file-exists", new_program, "--click", "Cancel",
            "--wait-gone"], step_timeout=60)
        try:
            run = self.launch(["/x"])
            seen = driver.finish(timeout=40)
        finally:
            driver.kill()
        self.assertTrue(seen.completed, seen.describe())
        self.assertEqual(seen.files, [(new_program, True, seen.files[0][2])])

        # The launcher's own dialog: its stored texts, the elapsed-time line on.
        d = seen.dialogs[0]
        self.assertEqual(d.caption, b"Downloading ...")
        self.assertEqual((d.width, d.height), (300, d.caption_height + 20 + 188))
        self.assertEqual(d.find(b"File :").text, b"File : Kassa.bin from 127.0.0.1:%d" % self.server_port)
        self.assertEqual(d.find(b"Elapsed time : ").rect[:2], (10, 160))
        self.assertTrue(d.find(b"Elapsed time : ").visible)
        self.assertEqual([(c.text, c.left, c.top) for c in d.by_class("Button")], [(b"Cancel", 215, 160)])

        self.assertOldProgramKept(run, [b"/x"], STAMP, NEW)


if __name__ == "__main__":
    unittest.main()
