"""The login dialog of an HTTP download, answered from beside wcopy: the 401 loop with the
typed credentials, the form's layout, and a cancelled login."""
import base64
import unittest

from harness.wcopy import WcopyDialogCase

BODY = bytes(range(256)) * 80  # 20480 bytes
ES_PASSWORD = 0x20
SS_BITMAP = 0x0e


def basic(user: bytes, password: bytes) -> str:
    return "Basic " + base64.b64encode(user + b":" + password).decode("ascii")


class LoginDialogTest(WcopyDialogCase):

    def setUp(self):
        super().setUp()
        self.server.put("/files/a.bin", BODY)
        self.server.script("/files/a.bin", auth=("anna", "hemlig"))
        self.caption = "Connect to 127.0.0.1:%d" % self.server.port

    def test_401_answered_through_the_login_dialog(self):
        # A wrong password first: the 401 opens a fresh, empty dialog again.
        run, seen = self.drive(
            ["--wait-caption", self.caption, "--dump", "--login", "anna", "fel", "--wait-gone",
             "--wait-caption", self.caption, "--dump", "--login", "anna", "hemlig", "--wait-gone"],
            "--http", self.url("/files/a.bin"), *self.to(), "--auth", "auto")
        self.assertEqual((run.exit_code, run.job(0)), (0, "Done"), run.raw)
        self.assertEqual(self.local("a.bin"), BODY)
        self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0", "OnFileDone 0", "OnCopyDone"])
        self.assertEqual([r.header("Authorization") for r in self.server.requests],
                         [None, basic(b"anna", b"fel"), basic(b"anna", b"hemlig")])
        self.assertEqual(seen.found, [self.caption.encode()] * 2)
        self.assertEqual(seen.filled, [(b"anna", b"fel"), (b"anna", b"hemlig")])

        for form in seen.dialogs:
            self.assertEqual((form.width, form.height), (328, 223))
            sw, sh = form.screen
            self.assertLessEqual(abs(form.left - (sw - 328) // 2), 1, form)
            self.assertLessEqual(abs(form.top - (sh - 223) // 2), 1, form)
            self.assertTrue(form.sysmenu)
            edits = form.by_class("Edit")
            self.assertEqual([(e.rect, e.text, e.visible) for e in edits],
                             [((104, 80, 193, 21), b"", True), ((104, 112, 193, 21), b"", True)])
            self.assertEqual([bool(e.style & ES_PASSWORD) for e in edits], [False, True])
            self.assertEqual([(c.text, c.rect) for c in form.by_class("Button")],
                             [(b"OK", (144, 152, 75, 25)), (b"Cancel", (224, 152, 75, 25))])
            self.assertEqual([c.rect for c in form.by_class("Static") if c.style & 0x1f == SS_BITMAP],
                             [(0, 0, 320, 60)], "the banner")
            labels = [(c.text, c.left, c.top) for c in form.by_class("Static") if c.text]
            self.assertEqual(labels, [(b"&User name: ", 16, 80), (b"&Password:", 16, 112)])
            # Tab order: user name, password, OK, Cancel.
            stops = [c.text or c.cls.encode() for c in form.controls if c.cls in ("Edit", "Button")]
            self.assertEqual(stops, [b"Edit", b"Edit", b"OK", b"Cancel"])

    def test_cancelled_login_ends_the_job_quietly(self):
        rows = [  # (--auth, requests the server sees)
            ("auto", [None]),   # the dialog answers the 401
            ("always", []),     # no credentials: the dialog comes before any request
        ]
        for auth, requests in rows:
            with self.subTest(auth=auth):
                before = len(self.server.requests)
                run, seen = self.drive(["--wait-caption", self.caption, "--login-cancel", "--wait-gone"],
                                       "--http", self.url("/files/a.bin"), *self.to(), "--auth", auth)
                self.assertEqual(seen.clicked, [b"Cancel"])
                self.assertEqual((run.exit_code, run.job(0)), (1, "Failed"), run.raw)
                self.assertEqual(run.events(), ["OnBeforeDialogShow", "OnFileStart 0", "OnFileDone 0", "OnCopyDone"])
                self.assertEqual([r.header("Authorization") for r in self.server.requests[before:]], requests)
                self.assertIsNone(self.local("a.bin"))


if __name__ == "__main__":
    unittest.main()
