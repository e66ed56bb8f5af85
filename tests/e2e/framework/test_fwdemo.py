"""The framework's Win32 backend under Wine: fwdemo drives real windows (a splash form, a
progress dialog, a modal login form typed into with synthesised keys, worker wake-ups) and
reports what the window system holds; these checks hold that against the forms' settings."""
import os
import unittest

from harness.wine import Wine


def _hex(text: bytes) -> str:
    return text.hex()


def _box(value: str):
    return tuple(int(v) for v in value.split(","))


def _run_once():
    """fwdemo's exit code and output; one run serves every test of a ctest run (each test is
    its own process), kept in the run's state folder beside the build it came from."""
    exe = os.environ["FWDEMO_EXE"]
    st = os.stat(exe)
    stamp = f"{st.st_mtime_ns}:{st.st_size}\n".encode()
    cache = os.path.join(os.environ["E2E_STATE_DIR"], "fwdemo.out")
    try:
        with open(cache, "rb") as f:
            head, _, rest = f.read().partition(b"\n")
        if head + b"\n" == stamp:
            code, _, output = rest.partition(b"\n")
            return (None if code == b"None" else int(code)), output
    except OSError:
        pass
    result = Wine.from_env().run(exe, timeout=120)
    with open(cache, "wb") as f:
        f.write(stamp + str(result.exit_code).encode() + b"\n" + result.output)
    return result.exit_code, result.output


class FrameworkWindowsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exit_code, cls.output = _run_once()
        cls.out = {}
        for line in cls.output.decode("latin-1").splitlines():
            key, sep, value = line.partition("=")
            if sep and " " not in key:
                cls.out[key] = value

    def get(self, key):
        self.assertIn(key, self.out, f"fwdemo did not report {key}; output:\n{self.output[-3000:]!r}")
        return self.out[key]

    def assert_table(self, rows):
        for key, expected in rows:
            with self.subTest(key=key):
                self.assertEqual(self.get(key), str(expected))

    def centred(self, width, height):
        _, _, sw, sh = _box(self.get("sys.screen"))
        return ((sw - width) // 2, (sh - height) // 2, width, height)

    def test_runs_to_its_end_through_the_timer_and_quits_once(self):
        self.assertEqual(self.exit_code, 0, self.output[-3000:])  # None: killed at the timeout
        self.assert_table([
            ("app.title", _hex(b"fwdemo")),
            ("splash.paints_before_tick", 1),   # the first paint armed the 1 ms timer
            ("run.ticks", 1),
            ("run.terminated", 1),
            ("run.quits_left", 0),               # WM_QUIT was not posted over and over
            ("done", 1),
        ])
        self.assertGreater(int(self.get("splash.paints_end")), 1)  # Repaint ran OnPaint

    def test_splash_is_a_centred_borderless_layered_window_with_its_label(self):
        self.assertEqual(_box(self.get("splash.window")), self.centred(288, 61))
        self.assert_table([
            ("splash.client", "0,0,288,61"),
            ("splash.clientsize", "0,0,288,61"),
            ("splash.bounds", self.get("splash.window")),
            ("splash.popup", 1), ("splash.caption", 0), ("splash.sysmenu", 0),
            ("splash.thickframe", 0), ("splash.topmost", 0), ("splash.layered", 1),
            ("splash.alpha", 200), ("splash.alphaflags", 2),  # LWA_ALPHA
            ("splash.text", _hex(b" ")),
            ("label.font", "Trebuchet MS,-19"),
            ("label.textcolor", 0xC08000), ("label.background", 0xFFFFFF),
            ("label.text", _hex(b"Versionkontroll...")),
            ("label.window", self.get("label.bounds")),
            ("label2.text", _hex(b"H\xe4mtar uppdatering")),
            ("label2.window", self.get("label2.bounds")),  # the window follows AutoSize
        ])
        self.assertEqual(_box(self.get("label.window"))[:2], (69, 10))
        self.assertGreater(_box(self.get("label2.window"))[2], _box(self.get("label.window"))[2])

    def test_progress_dialog_frame_controls_and_buttons(self):
        caption = int(self.get("dialog.captionheight"))
        self.assertEqual(_box(self.get("dialog.window")), self.centred(300, caption + 40 + 188))
        _, _, cw, ch = _box(self.get("dialog.client"))
        _, _, ew, eh = _box(self.get("dialog.nonclient"))
        self.assertEqual((300 - ew, caption + 40 + 188 - eh), (cw, ch))
        file_line = b"File : 1 of 2 : a-very-long-file-name-that-does-not-fit-in-the-line.bin from 127.0.0.1"
        self.assert_table([
            ("dialog.bounds", self.get("dialog.window")),
            ("dialog.clientsize", self.get("dialog.client")),
            ("dialog.popup", 1), ("dialog.caption", 1), ("dialog.sysmenu", 0),
            ("dialog.thickframe", 0), ("dialog.dlgmodalframe", 1), ("dialog.topmost", 1),
            ("dialog.text", _hex(b"Downloading : 100% completed")),  # the last caption set
            ("dialog.clip257", 1), ("dialog.reopen257", 1), ("dialog.copyclip", 1),
            ("dialog.barpos", 45), ("dialog.barmax", 100),
            ("progressline.window", self.get("progressline.bounds")),
            ("progressline.background", self.get("sys.btnface")),
            ("progressline.textcolor", self.get("sys.windowtext")),
            ("progressline.font", "MS Sans Serif,-11"),
            ("progressline.text", _hex(b"Progress : 16000 KB of 16000 KB")),
            ("dialog.cancelclicks", 1),
            ("dialog.visible_after_refused_close", 1),
            ("dialog.closed", 1),
            ("dialog.destroyed", 1),
        ])
        # Children in z-order, the dialog manager's tab order: class, left, top, width,
        # height (None: sized to the text), visible, tab stop, text. The fixed-width file line
        # clips its text rather than growing.
        expected = [
            ("Static", 10, 80, 280, 13, 1, 0, file_line),
            ("Static", 10, 100, None, None, 1, 0, b"Progress : 16000 KB of 16000 KB"),
            ("Static", 10, 120, None, None, 1, 0, None),
            ("Static", 10, 140, None, None, 1, 0, None),
            ("Static", 10, 160, None, None, 1, 0, None),
            ("SysAnimate32", 10, 0, 272, 60, 1, 0, b""),
            ("Button", 215, 180, 75, 25, 1, 1, b"Cancel"),
            ("msctls_progress32", 10, 60, 280, 12, 1, 0, b""),
        ]
        for i, row in enumerate(expected):
            child = self.get(f"dialog.child{i}").split(",")
            got = (child[0], *map(int, child[1:5]), int(child[5]), int(child[7]), bytes.fromhex(child[8]))
            with self.subTest(child=i):
                self.assertEqual(tuple(g if e is not None else None for g, e in zip(got, row)), row)

    def test_login_form_tab_order_default_cancel_and_password(self):
        self.assertEqual(_box(self.get("login.window")), self.centred(328, 223))
        self.assert_table([
            ("login.caption", 1), ("login.sysmenu", 1), ("login.dlgmodalframe", 1),
            ("login.text", _hex(b"Connect to 127.0.0.1")),
            ("login.passwordchar", ord("*")),
            ("login.splash_enabled_after", 1),
        ])
        # Each label stands right before the edit it focuses, so its "&" mnemonic lands there.
        children = [self.get(f"login.child{i}").split(",") for i in range(7)]
        self.assertEqual([(c[0], c[1], c[2], c[7], c[8]) for c in children], [
            ("Static", "16", "80", "0", _hex(b"&User name: ")),
            ("Static", "0", "0", "0", ""),
            ("Edit", "104", "80", "1", ""),
            ("Static", "16", "112", "0", _hex(b"&Password:")),
            ("Edit", "104", "112", "1", ""),
            ("Button", "144", "152", "1", _hex(b"OK")),
            ("Button", "224", "152", "1", _hex(b"Cancel")),
        ])
        self.assertEqual(children[1][3:5], ["320", "60"])  # the banner bitmap's size
        cases = [  # name, modal result, user, password; typed keys are in fwdemo
            ("tab_enter", 1, b"ab", b"cd"),      # focus starts in Edit1, Tab, Enter = OK
            ("escape", 2, b"x", b""),            # Escape = Cancel
            ("mnemonics", 1, b"us", b"pw"),      # Alt+P, Alt+U
            ("enter_empty", 1, b"", b""),
            ("close_box", 2, b"", b""),          # WM_CLOSE = Cancel
        ]
        for name, result, user, password in cases:
            with self.subTest(case=name):
                self.assertEqual((self.get(f"login.{name}.result"), self.get(f"login.{name}.user"),
                                  self.get(f"login.{name}.password")),
                                 (str(result), _hex(user), _hex(password)))
                if result == 1:  # the other windows are disabled while the form is modal
                    self.assertEqual(self.get(f"login.{name}.splash_enabled"), "0")

    def test_worker_wakes_the_loop_also_inside_a_message_box_and_handler_errors_are_reported(self):
        self.assertLess(int(self.get("sync.wait_ms")), 2000)
        self.assert_table([
            ("sync.box_result", 1),
            ("sync.box_text", _hex(b"Waiting for the worker")),
            ("error.box_text", _hex(b"Click failed.")),
        ])


if __name__ == "__main__":
    unittest.main()
