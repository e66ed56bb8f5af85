"""Shared set-up for the launcher's end-to-end tests.

Each test gets its own folder in the prefix's drive C (C:\\e2e\\<test>) holding the AppData
folder the launcher is pointed at, the launcher copy (bin\\<Name>.exe) and the update
server's files; the server listens where the build's UPDATE_BASE_URL points.
"""
import os
import shutil
import time
import unittest
import urllib.parse
from dataclasses import dataclass
from typing import Dict, List, Optional, Sequence

from .boxwatch import BoxWatch, Observations
from .managed import Start, read_starts
from .server import Request, ScriptedHttpServer
from .wine import Wine

BASE_URL = os.environ.get("UPDATE_BASE_URL", "http://127.0.0.1:8642/")
# Texts of the launcher, Windows-1252.
MSG_MISSING = b"N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren \r\n%s saknas"
MSG_NOT_STARTED = b"N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren\r\n%s kunde inte startas"
MSG_IN_USE = b"Programmet troligen redan ig\xe5ng, vg st\xe4ng det och f\xf6rs\xf6k igen"
DEFAULT_STAMP = b"2001-01-01 00:00:00"
# An installed stamp and a newer one on the server, for the tests that update.
STAMP = b"2013-07-18 10:00:00"
NEW = b"2013-07-18 11:00:00"


@dataclass
class LauncherRun:
    exit_code: Optional[int]      # None when the launcher had to be killed
    timed_out: bool
    seen: Observations            # message boxes, windows, splash
    requests: List[Request]       # what reached the update server
    output: bytes                 # wine's own output, for failure messages

    @property
    def paths(self) -> List[str]:
        return [r.path for r in self.requests]


def _need(var: str) -> str:
    path = os.environ.get(var, "")
    if not os.path.isfile(path):
        raise unittest.SkipTest(f"{var} not built ({path or 'unset'})")
    return path


class LauncherCase(unittest.TestCase):
    NAME = "Kassa"                # base name of the launcher and of the managed program
    STARTER = "STARTER_EXE"       # the variable naming the launcher build under test
    BASE_URL = BASE_URL           # and the update server that build was made for
    server_tls = None             # an ssl.SSLContext: the update server speaks https

    @classmethod
    def setUpClass(cls):
        cls.starter_exe = _need(cls.STARTER)
        cls.managed_exe = {"v1": _need("MANAGED_V1_EXE"), "v2": _need("MANAGED_V2_EXE")}
        url = urllib.parse.urlsplit(cls.BASE_URL)
        if url.hostname not in ("127.0.0.1", "localhost"):
            raise unittest.SkipTest(f"update server {cls.BASE_URL} is not on this machine")
        cls.server_port = url.port or 80
        cls.server_path = url.path            # ends in "/"
        cls.wine = Wine.from_env()

    def setUp(self):
        self.work = os.path.join(self.wine.drive_c, "e2e", self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        self.bin = os.path.join(self.work, "bin")
        os.makedirs(self.bin)
        self.server = ScriptedHttpServer(os.path.join(self.work, "server"), port=self.server_port,
                                         tls=self.server_tls)
        self._stayers = []
        self.addCleanup(self._cleanup)
        self.use_appdata(os.path.join(self.work, "AppData"))

    def fresh(self):
        """Empties the application folder and the server, for the next row of a table."""
        self.server.stop()
        shutil.rmtree(self.server.root, ignore_errors=True)
        self.server = ScriptedHttpServer(self.server.root, port=self.server_port, tls=self.server_tls)
        shutil.rmtree(self.app, ignore_errors=True)

    def _cleanup(self):
        self.server.stop()
        for p in self._stayers:
            p.kill()
        for needle in (self.wine.windows_path(self.work), self.app_win):
            self.wine.kill_matching(needle)

    # --- the application folder
    def use_appdata(self, unix_folder: Optional[str]):
        """Points AppData at `unix_folder` (None: empty AppData, so the application folder
        is \\Brakven\\Applikationer\\ on the launcher's current drive, C:)."""
        if unix_folder is None:
            self.wine.set_appdata("")
            self.app = os.path.join(self.wine.drive_c, "Brakven", "Applikationer")
            self.app_win = "\\Brakven\\Applikationer"
            shutil.rmtree(os.path.join(self.wine.drive_c, "Brakven"), ignore_errors=True)
            self.addCleanup(shutil.rmtree, os.path.join(self.wine.drive_c, "Brakven"), True)
        else:
            os.makedirs(unix_folder, exist_ok=True)
            self.wine.set_appdata(self.wine.windows_path(unix_folder))
            self.app = os.path.join(unix_folder, "Brakven", "Applikationer")
            self.app_win = self.wine.windows_path(self.app)

    def path(self, ext: str, name: Optional[str] = None) -> str:
        return os.path.join(self.app, (name or self.NAME) + ext)

    def win_path(self, ext: str, name: Optional[str] = None) -> bytes:
        """The path as the launcher spells it: AppData + \\Brakven\\Applikationer\\ + file."""
        return (self.app_win + "\\" + (name or self.NAME) + ext).encode("cp1252")

    def read(self, ext: str, name: Optional[str] = None) -> Optional[bytes]:
        try:
            with open(self.path(ext, name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def write(self, ext: str, data: bytes, name: Optional[str] = None):
        os.makedirs(self.app, exist_ok=True)
        with open(self.path(ext, name), "wb") as f:
            f.write(data)

    def install(self, version: str = "v1", name: Optional[str] = None):
        """Puts the managed program (build `version`) in the application folder."""
        os.makedirs(self.app, exist_ok=True)
        shutil.copyfile(self.managed_exe[version], self.path(".exe", name))

    def installed_version(self, name: Optional[str] = None) -> Optional[str]:
        data = self.read(".exe", name)
        for version, exe in self.managed_exe.items():
            with open(exe, "rb") as f:
                if f.read() == data:
                    return version
        return None if data is None else "unknown"

    def files(self) -> List[str]:
        """Names in the application folder, without managed.exe's own logs."""
        if not os.path.isdir(self.app):
            return []
        return sorted(n for n in os.listdir(self.app) if not n.endswith(".log"))

    def starts(self, name: Optional[str] = None) -> List[Start]:
        return read_starts(self.path(".exe.log", name))

    # --- the update server
    def url_path(self, file: str) -> str:
        return self.server_path + "managedfiles/" + file

    def publish(self, stamp: Optional[bytes], version: Optional[str] = "v2", name: Optional[str] = None):
        """Serves `stamp` as managedfiles/N.txt and build `version` as managedfiles/N.bin."""
        name = name or self.NAME
        if stamp is not None:
            self.server.put(self.url_path(name + ".txt"), stamp)
        if version is not None:
            with open(self.managed_exe[version], "rb") as f:
                self.server.put(self.url_path(name + ".bin"), f.read())

    # --- running
    def start_installed(self, args: Sequence[str] = (), name: Optional[str] = None):
        """Starts the installed program directly (not through the launcher) and waits until
        it has written its record; it is killed at the end of the test."""
        before = len(self.starts(name))
        proc = self.wine.start(self.path(".exe", name), args, cwd=self.app)
        self._stayers.append(proc)
        deadline = time.monotonic() + 30
        while len(self.starts(name)) == before:
            self.assertTrue(proc.running() and time.monotonic() < deadline, "installed program did not start")
            time.sleep(0.05)
        return proc

    def launch(self, args: Sequence[str] = (), launcher: Optional[str] = None, serve: bool = True,
               exits: bool = True, timeout: float = 90, probe: bool = False,
               env: Optional[Dict[str, str]] = None) -> LauncherRun:
        """Runs the launcher, copied to bin\\<launcher> (default <NAME>.exe), with `args`,
        while boxwatch answers its message boxes. `serve`: run the update server (else the
        server is unreachable). `exits` False: the launcher is expected to stay (an error
        report leaves its splash open); it is killed a moment after its first message box.
        `probe`: read the splash label's font from inside the launcher (BoxWatch probe).
        `env`: more environment for the launcher."""
        exe = os.path.join(self.bin, launcher or self.NAME + ".exe")
        shutil.copyfile(self.starter_exe, exe)
        if serve:
            self.server.start()
        before = len(self.server.requests)
        try:
            with BoxWatch(self.wine, probe=probe) as watch:
                proc = self.wine.start(exe, args, cwd=self.bin, env={**watch.probe_env, **(env or {})})
                if exits:
                    result = proc.wait(timeout)
                else:
                    watch.wait_for_box(timeout)
                    time.sleep(1.0)          # the launcher would go on here if it were to go on
                    result = proc.wait(0)
                self._wait_for_started_programs()
        finally:
            self.server.stop()
        return LauncherRun(result.exit_code, result.timed_out, watch.seen, self.server.requests[before:],
                           result.output)

    def _wait_for_started_programs(self, timeout: float = 20):
        """managed.exe ends at once unless told to stay; wait for whatever the launcher
        started from the application folder, so its record is complete."""
        ours = {p.pid for p in self._stayers}
        needle = self.app_win.lower()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not [pid for pid, cmd in self.wine.processes() if needle in cmd.lower() and pid not in ours]:
                return
            time.sleep(0.05)

    # --- assertions
    def assertExitedNormally(self, run: LauncherRun):
        self.assertFalse(run.timed_out, f"launcher did not end; it showed {run.seen.boxes}; output {run.output!r}")
        self.assertEqual(run.exit_code, 0)

    def assertNoMessages(self, run: LauncherRun):
        self.assertEqual([(b.caption, b.text) for b in run.seen.boxes], [])

    def assertMessage(self, run: LauncherRun, text: bytes, caption: Optional[bytes] = None):
        """Exactly one message box: `text`, captioned with the title, no icon, one OK."""
        caption = caption if caption is not None else (self.NAME[0] + self.NAME[1:].lower()).encode()
        self.assertEqual([(b.caption, b.text) for b in run.seen.boxes], [(caption, text)])
        self.assertFalse(run.seen.boxes[0].icon, "a plain message box has no icon")
        self.assertEqual(run.seen.boxes[0].buttons, [b"OK"])

    def assertStarted(self, version: str, args: Sequence[bytes] = (), name: Optional[str] = None) -> Start:
        """The managed program ran once, minimised, as build `version`, with the command line
        <its path> <blank> <each argument followed by a blank>; `args` as they stand in that
        command line (quoted where the launcher quotes them)."""
        starts = self.starts(name)
        self.assertEqual(len(starts), 1, f"expected one start, saw {starts}")
        start = starts[0]
        self.assertEqual(start.version, version)
        self.assertEqual(start.show, 2, "started with SW_SHOWMINIMIZED")
        path = self.win_path(".exe", name)
        tail = b"".join(a + b" " for a in args)
        self.assertIn(start.cmdline, (path + b" " + tail, b'"' + path + b'" ' + tail))
        return start

    def assertOldProgramKept(self, run: LauncherRun, args: Sequence[bytes], local: bytes, server: bytes):
        """An update was asked for and did not arrive: the installed v1 started quietly, no
        N.bin is left, and the stamp is not recorded, so the next start tries again."""
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v1", args)
        self.assertEqual(run.paths, [self.url_path(self.NAME + ".txt"), self.url_path(self.NAME + ".bin")])
        self.assertEqual(self.files(), [self.NAME + ".dat", self.NAME + ".exe", self.NAME + ".txt"])
        self.assertEqual((self.read(".dat"), self.read(".txt")), (local, server))

    def assertNothingStarted(self, name: Optional[str] = None, before: int = 0):
        self.assertEqual(self.starts(name)[before:], [])
