"""Local file copies of the transfer component end to end: wcopy.exe under Wine copies files
of the test's own folders, and dlgdriver cancels a copy from its dialog."""
import os
import shutil
import tempfile
import unittest

from harness.wcopy import WcopyDialogCase, WcopyRun


class WcopyCopyTest(WcopyDialogCase):

    def setUp(self):
        super().setUp()
        self.src = tempfile.mkdtemp(prefix="wcopy-src-")
        self.addCleanup(shutil.rmtree, self.src, True)

    def source(self, name, data=None, size=None):
        """Writes a source file (`size`: a sparse file of that size); its Windows path."""
        path = os.path.join(self.src, name)
        with open(path, "wb") as f:
            if size is not None:
                f.truncate(size)
            else:
                f.write(data)
        return self.wine.windows_path(path)

    def existing(self, name, data):
        with open(os.path.join(self.out, name), "wb") as f:
            f.write(data)

    def wcopy(self, *args):
        run = WcopyRun(self.wine.run(os.environ["WCOPY_EXE"], list(args), timeout=120))
        self.assertFalse(run.timed_out, run.raw)
        return run

    def test_empty_and_large_files_with_progress(self):
        big = os.urandom(5 << 20) + b"tail"
        run = self.wcopy("--verbose-progress", "--copy", self.source("empty.bin", b""), *self.to(),
                         "--copy", self.source("big.bin", big), *self.to())
        self.assertEqual(run.exit_code, 0, run.raw)
        self.assertEqual((self.local("empty.bin"), self.local("big.bin")), (b"", big))
        progress = [l for l in run.lines if l.startswith("OnCopyProgress")]
        block = 1 << 20
        blocks = -(-len(big) // block)
        self.assertEqual(progress[0], "OnCopyProgress 1 0 0")
        self.assertEqual(progress[1:], [f"OnCopyProgress 2 {min(n * block, len(big))} {len(big)}"
                                        for n in range(1, blocks + 1)] + [f"OnCopyProgress 2 {len(big)} {len(big)}"])
        self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0", "OnFileDone 0",
                                        "OnFileStart 1", "OnFileDone 1", "OnCopyDone"])

    def test_existing_target_overwritten_refused_or_kept_beside(self):
        src = self.source("a.txt", b"new")
        self.existing("a.txt", b"old")
        self.existing("a(1).txt", b"one")
        rows = [  # (why, options, job state, a.txt afterwards, a(2).txt afterwards)
            ("refused", ["--refuse-overwrite"], "Failed", b"old", None),
            ("unique name", ["--unique"], "Done", b"old", b"new"),
            ("overwritten", [], "Done", b"new", None),
        ]
        for why, options, state, kept, unique in rows:
            with self.subTest(why):
                if os.path.exists(os.path.join(self.out, "a(2).txt")):
                    os.remove(os.path.join(self.out, "a(2).txt"))
                run = self.wcopy("--no-dialog", *options, "--copy", src, *self.to())
                self.assertEqual(run.job(0), state, run.raw)
                self.assertIn("OnCopyOverWrite " + self.target("a.txt"), run.lines)
                self.assertEqual((self.local("a.txt"), self.local("a(2).txt"), self.local("a(1).txt")),
                                 (kept, unique, b"one"))
                self.assertEqual(sorted(os.listdir(self.out)),
                                 sorted(["a.txt", "a(1).txt"] + (["a(2).txt"] if unique else [])))

    def test_cancel_mid_copy_keeps_the_old_target(self):
        # Big enough that the copy is still running when the click arrives; sparse, so
        # only what is copied before the cancel takes disk space.
        src = self.source("huge.bin", size=1536 << 20)
        self.existing("huge.bin", b"old")
        steps = ["--wait-caption", "Copying ...", "--having", "File : 1 of 2 : huge.bin from ",
                 "--wait-progress", "1", "--click", "Cancel", "--wait-gone"]
        run, seen = self.drive(steps, "--copy", src, *self.to(), "--copy", src, *self.to(), "--name", "b.bin")
        self.assertEqual(run.exit_code, 1, run.raw)
        self.assertEqual([run.job(0), run.job(1)], ["Failed", "Failed"])
        self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0",
                                        "OnCopyOverWrite " + self.target("huge.bin"), "OnCopyCancel", "OnCopyDone"])
        self.assertEqual(os.listdir(self.out), ["huge.bin"])
        self.assertEqual(self.local("huge.bin"), b"old")


if __name__ == "__main__":
    unittest.main()
