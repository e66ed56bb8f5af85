"""wcopy.exe (src/tools/wcopy.cpp) under Wine against the scripted HTTP server, with
dlgdriver.exe working its dialogs at the same time."""
import os
import shutil
import tempfile
import unittest
from typing import List, Optional, Tuple

from .dialogs import DialogDriver, Report
from .server import ScriptedHttpServer
from .wine import Wine

EVENT_PREFIXES = ("On", "Job ", "JobTimes", "ExecuteTimes", "DialogClosed")


class WcopyRun:
    def __init__(self, result):
        self.exit_code = result.exit_code
        self.timed_out = result.timed_out
        self.raw = result.output.decode("latin-1")
        self.lines = [l.rstrip("\r") for l in self.raw.splitlines() if l.startswith(EVENT_PREFIXES)]

    def events(self) -> List[str]:
        """The event lines without progress, timing and the job summary."""
        return [l for l in self.lines if not l.startswith(("OnCopyProgress", "Job"))]

    def job(self, index: int) -> str:
        return next(l.split()[2] for l in self.lines if l.startswith(f"Job {index} "))


def run_wcopy(case: unittest.TestCase, wine: Wine, *args: str, timeout: float = 60) -> WcopyRun:
    """Runs wcopy.exe with `args`; fails `case` when it did not end by itself."""
    run = WcopyRun(wine.run(os.environ["WCOPY_EXE"], list(args), timeout=timeout))
    case.assertFalse(run.timed_out, run.raw)
    return run


@unittest.skipUnless(os.environ.get("WCOPY_EXE") and os.environ.get("DLGDRIVER_EXE"),
                     "wcopy.exe and dlgdriver.exe are built only for Windows targets")
class WcopyDialogCase(unittest.TestCase):
    """A fresh server and target folder per test; `drive` runs wcopy while dlgdriver
    follows its steps."""

    def setUp(self):
        self.wine = Wine.from_env()
        self.server = ScriptedHttpServer(tempfile.mkdtemp(prefix="wcopy-srv-"), lifetime=120).start()
        self.addCleanup(self.server.stop)
        self.out = tempfile.mkdtemp(prefix="wcopy-out-")
        self.addCleanup(shutil.rmtree, self.out, True)

    def url(self, path: str) -> str:
        return self.server.url + path.lstrip("/")

    def to(self) -> List[str]:
        return ["--to", self.wine.windows_path(self.out)]

    def target(self, name: str) -> str:
        """A file of the target folder as the programs under Wine name it."""
        return self.wine.windows_path(os.path.join(self.out, name))

    def local(self, name: str) -> Optional[bytes]:
        path = os.path.join(self.out, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def drive(self, steps: List[str], *args: str, timeout: float = 60) -> Tuple[WcopyRun, Report]:
        """Runs wcopy with `args` while dlgdriver runs `steps`; both must end by themselves."""
        driver = DialogDriver(self.wine, steps)
        try:
            run = WcopyRun(self.wine.run(os.environ["WCOPY_EXE"], list(args), timeout=timeout))
            report = driver.finish(timeout=40)
        finally:
            driver.kill()
        self.assertFalse(run.timed_out, f"wcopy did not end: {run.raw}; {driver.finish(0).describe()}")
        self.assertTrue(report.completed, report.describe() + "\nwcopy: " + run.raw)
        return run, report
