"""Runs dlgdriver.exe beside a program under test and reads what it saw and did.

dlgdriver waits for a dialog by its caption, records the dialog's geometry and controls,
clicks buttons and fills the login form, in the order of the steps it is given; see
tools/dlgdriver.cpp. Start it before the program under test: it waits for the window.
"""
import os
import tempfile
import time
from dataclasses import dataclass
from typing import Dict, List, Optional

from .boxwatch import _fields
from .wine import Wine


@dataclass
class Control:
    cls: str
    text: bytes
    left: int
    top: int       # client coordinates of the dialog
    width: int
    height: int
    visible: bool
    enabled: bool
    pos: int       # progress bar position; -1 for other controls
    style: int

    @property
    def rect(self):
        return (self.left, self.top, self.width, self.height)


@dataclass
class Dialog:
    caption: bytes
    cls: str
    left: int
    top: int
    width: int     # outer size
    height: int
    cwidth: int    # client size
    cheight: int
    sysmenu: bool
    topmost: bool
    caption_height: int   # GetSystemMetrics(SM_CYCAPTION)
    screen: tuple
    controls: List[Control]

    def by_class(self, cls: str) -> List[Control]:
        return [c for c in self.controls if c.cls.lower() == cls.lower()]

    def find(self, prefix: bytes, cls: Optional[str] = None) -> Control:
        """The first control whose text starts with `prefix` (of class `cls`)."""
        for c in self.controls:
            if c.text.startswith(prefix) and (cls is None or c.cls.lower() == cls.lower()):
                return c
        raise AssertionError(f"no control {prefix!r} in {[c.text for c in self.controls]}")

    def button(self, text: bytes) -> Control:
        for c in self.by_class("Button"):
            if c.text == text:
                return c
        raise AssertionError(f"no button {text!r} in {[c.text for c in self.by_class('Button')]}")


class Report:
    def __init__(self, lines: List[str], exit_code: Optional[int], output: bytes):
        self.lines, self.exit_code, self.output = lines, exit_code, output
        self.dialogs: List[Dialog] = []
        self.found: List[bytes] = []        # captions of the windows waited for, in order
        self.clicked: List[bytes] = []
        self.filled: List[tuple] = []       # (user, password) as read back from the edits
        self.files: List[tuple] = []        # (path, exists, size)
        self.failures: List[str] = [l for l in lines if l.startswith("fail")]
        current = None
        for line in lines:
            kind, f = line.split(" ", 1)[0], _fields(line)
            if kind == "found":
                self.found.append(bytes.fromhex(f["caption"]))
            elif kind == "window":
                current = Dialog(bytes.fromhex(f["caption"]), bytes.fromhex(f["class"]).decode("latin-1"),
                                 int(f["left"]), int(f["top"]), int(f["width"]), int(f["height"]),
                                 int(f["cwidth"]), int(f["cheight"]), f["sysmenu"] == "1", f["topmost"] == "1",
                                 int(f["captionh"]), tuple(int(n) for n in f["screen"].split("x")), [])
                self.dialogs.append(current)
            elif kind == "child":
                current.controls.append(Control(
                    bytes.fromhex(f["class"]).decode("latin-1"), bytes.fromhex(f["text"]), int(f["left"]),
                    int(f["top"]), int(f["width"]), int(f["height"]), f["visible"] == "1", f["enabled"] == "1",
                    int(f["pos"]), int(f["style"], 16)))
            elif kind == "clicked":
                self.clicked.append(bytes.fromhex(f["text"]))
            elif kind == "filled":
                self.filled.append((bytes.fromhex(f["user"]), bytes.fromhex(f["password"])))
            elif kind == "file":
                self.files.append((bytes.fromhex(f["path"]).decode("cp1252"), f["exists"] == "1", int(f["size"])))

    @property
    def completed(self) -> bool:
        return self.exit_code == 0 and bool(self.lines) and self.lines[-1] == "done"

    def describe(self) -> str:
        return f"dlgdriver exit {self.exit_code}: {self.lines!r} {self.output!r}"


class DialogDriver:
    """Starts dlgdriver.exe with `steps` (see tools/dlgdriver.cpp) and waits until it runs;
    finish() waits for its end and returns the Report. Every wait of it gives up after
    `step_timeout` seconds, so it always ends by itself."""

    def __init__(self, wine: Wine, steps: List[str], step_timeout: float = 30.0, exe: Optional[str] = None):
        self.wine = wine
        self.exe = exe or os.environ["DLGDRIVER_EXE"]
        self.dir = tempfile.mkdtemp(prefix="dlgdriver-")
        self.out = os.path.join(self.dir, "seen.txt")
        self.proc = wine.start(self.exe, [wine.windows_path(self.out), "--timeout-ms",
                                          str(int(step_timeout * 1000))] + list(steps))
        self.report: Optional[Report] = None
        deadline = time.monotonic() + 30
        while not self._lines():
            if not self.proc.running() or time.monotonic() > deadline:
                self.proc.kill()
                raise RuntimeError(f"dlgdriver did not start: {self.proc.output()!r}")
            time.sleep(0.05)

    def _lines(self) -> List[str]:
        try:
            with open(self.out, "rb") as f:
                return f.read().decode("ascii").splitlines()
        except OSError:
            return []

    def finish(self, timeout: float = 60) -> Report:
        if self.report is None:
            result = self.proc.wait(timeout)
            self.report = Report(self._lines()[1:], result.exit_code, result.output)
        return self.report

    def kill(self):
        self.proc.kill()
