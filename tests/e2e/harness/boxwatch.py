"""Runs boxwatch.exe beside a program under test and reads what it saw.

boxwatch records and dismisses every message box, and records the splash window (a
borderless popup of 288x61 client pixels) with its children; see tools/boxwatch.cpp. With
probe=True the fonts of the splash window's children are read from inside the program
under test (tools/splashprobe.cpp), which must be started with `probe_env`.
"""
import os
import tempfile
import time
from dataclasses import dataclass
from typing import Dict, List, Optional

from .wine import Wine


@dataclass
class Box:
    caption: bytes
    text: bytes
    icon: bool
    buttons: List[bytes]


def _fields(line: str) -> Dict[str, str]:
    out = {}
    for part in line.split()[1:]:
        key, _, value = part.partition("=")
        out[key] = value
    return out


class Observations:
    def __init__(self, lines: List[str], probe_lines: List[str] = ()):
        self.lines = lines
        self.probe_hooked = "probehook ok=1" in lines
        # Each new (text, font) of a splash child, seen inside the program: text, face, height...
        self.splash_fonts: List[Dict[str, object]] = []
        for line in probe_lines:
            f: Dict[str, object] = dict(_fields(line))
            f["text"] = bytes.fromhex(f["text"])
            if "face" in f:
                f["face"] = bytes.fromhex(f["face"])
            self.splash_fonts.append(f)
        self.boxes: List[Box] = []
        self.windows: List[Dict[str, bytes]] = []
        self.splash: List[Dict[str, str]] = []
        self.splash_children: List[Dict[str, object]] = []
        for line in lines:
            kind, f = line.split(" ", 1)[0], _fields(line)
            if kind == "box":
                self.boxes.append(Box(bytes.fromhex(f["caption"]), bytes.fromhex(f["text"]), f["icon"] == "1",
                                      [bytes.fromhex(b) for b in f["buttons"].split(",") if b]))
            elif kind == "window":
                self.windows.append({"class": bytes.fromhex(f["class"]), "caption": bytes.fromhex(f["caption"])})
            elif kind == "splash":
                self.splash.append(f)
            elif kind == "splashchild":
                self.splash_children.append({"class": bytes.fromhex(f["class"]), "text": bytes.fromhex(f["text"])})

    @property
    def stopped_cleanly(self) -> bool:
        return bool(self.lines) and self.lines[-1] == "done"


class BoxWatch:
    """Context manager: starts boxwatch.exe and waits until it watches; on exit (or stop())
    asks it to stop and collects its observations in `seen`."""

    def __init__(self, wine: Wine, exe: Optional[str] = None, timeout: float = 180.0, probe: bool = False):
        self.wine = wine
        self.probe = probe
        self.exe = exe or os.environ["BOXWATCH_EXE"]
        self.timeout = timeout
        self.dir = tempfile.mkdtemp(prefix="boxwatch-")
        self.out = os.path.join(self.dir, "seen.txt")
        self.stopfile = os.path.join(self.dir, "stop")
        self.probe_out = os.path.join(self.dir, "probe.txt")
        self.proc = None
        self.seen: Optional[Observations] = None

    def __enter__(self):
        # Rarely (seen about once in a few hundred starts) wine64 ends at once, without
        # output, before the watcher has run a line; such a start is simply made again.
        for attempt in range(3):
            self.proc = self.wine.start(self.exe, [self.wine.windows_path(self.out),
                                                   self.wine.windows_path(self.stopfile),
                                                   str(int(self.timeout * 1000))]
                                        + (["--probe"] if self.probe else []))
            deadline = time.monotonic() + 30
            while not self._lines():
                ended = not self.proc.running()
                if ended or time.monotonic() > deadline:
                    self.proc.kill()
                    break
                time.sleep(0.05)
            else:
                return self
            if not ended or self.proc.output() or attempt == 2:
                break
        raise RuntimeError(f"boxwatch did not start (exit {self.proc.popen.returncode}): "
                           f"{self.proc.output()!r}")

    def __exit__(self, *exc):
        self.stop()

    @property
    def probe_env(self) -> Dict[str, str]:
        """Environment for the program under test, telling the probe where to write."""
        return {"E2E_SPLASH_PROBE": self.wine.windows_path(self.probe_out)} if self.probe else {}

    def _lines(self, path=None) -> List[str]:
        try:
            with open(path or self.out, "rb") as f:
                return f.read().decode("ascii").splitlines()
        except OSError:
            return []

    def current(self) -> Observations:
        """What boxwatch has seen so far, while it still runs."""
        return Observations(self._lines()[1:])

    def wait_for_box(self, timeout: float) -> bool:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.current().boxes:
                return True
            time.sleep(0.1)
        return False

    def stop(self) -> Observations:
        if self.seen is None:
            open(self.stopfile, "w").close()
            self.proc.wait(timeout=30)
            self.seen = Observations(self._lines()[1:], self._lines(self.probe_out))
        return self.seen
