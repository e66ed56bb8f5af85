"""Windows programs under wine64, in the prefix and on the X display of the test run.

The ctest fixture (harness.fixture) creates one prefix and one Xvfb per run and writes
their location to E2E_STATE_DIR; Wine.from_env() picks them up.
"""
import os
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass
from typing import Dict, Iterable, List, Optional, Tuple

WINE64 = os.environ.get("WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver")
# No Mono/Gecko install dialogs, no menu entries on the host.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"


@dataclass
class Result:
    exit_code: Optional[int]   # None when the program was killed at its timeout
    timed_out: bool
    output: bytes              # wine's stdout and stderr


class Process:
    """A started Windows program; its output goes to a file, never to a pipe, because a
    wineserver started on its behalf would inherit the pipe and keep it open."""

    def __init__(self, popen: subprocess.Popen, log_path: str):
        self.popen, self.log_path = popen, log_path

    @property
    def pid(self):
        return self.popen.pid

    def wait(self, timeout: float) -> Result:
        try:
            code = self.popen.wait(timeout=timeout)
            return Result(code, False, self.output())
        except subprocess.TimeoutExpired:
            self.kill()
            return Result(None, True, self.output())

    def running(self) -> bool:
        return self.popen.poll() is None

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
            self.popen.wait(timeout=10)

    def output(self) -> bytes:
        try:
            with open(self.log_path, "rb") as f:
                return f.read()
        except OSError:
            return b""


class Wine:
    def __init__(self, prefix: str, display: str):
        self.prefix = os.path.abspath(prefix)
        self.display = display
        self._logdir = tempfile.mkdtemp(prefix="wine-out-")

    @classmethod
    def from_env(cls) -> "Wine":
        state = os.environ.get("E2E_STATE_DIR")
        if not state or not os.path.exists(os.path.join(state, "ready")):
            raise RuntimeError("no Wine prefix: run the tests through ctest (fixture e2e.setup)")
        with open(os.path.join(state, "display")) as f:
            display = f.read().strip()
        return cls(os.path.join(state, "prefix"), display)

    # --- environment and paths
    def env(self, extra: Optional[Dict[str, str]] = None) -> Dict[str, str]:
        env = dict(os.environ)
        env.update(WINEPREFIX=self.prefix, DISPLAY=self.display, WINEDEBUG=env.get("E2E_WINEDEBUG", "-all"),
                   TZ="UTC", WINEDLLOVERRIDES=DLL_OVERRIDES)
        env.update(extra or {})
        return env

    @property
    def drive_c(self) -> str:
        return os.path.join(self.prefix, "drive_c")

    def windows_path(self, unix_path: str) -> str:
        """C:\\... for files in the prefix's drive C, Z:\\... for the rest of the file system."""
        p = os.path.abspath(unix_path)
        if p == self.drive_c or p.startswith(self.drive_c + os.sep):
            return "C:" + (p[len(self.drive_c):] or "\\").replace("/", "\\")
        return "Z:" + p.replace("/", "\\")

    def unix_path(self, windows_path: str) -> str:
        drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/")
        if drive == "c":
            return self.drive_c + rest
        if drive == "z":
            return rest
        raise ValueError(windows_path)

    # --- running programs
    def start(self, program: str, args: Iterable[str] = (), cwd: Optional[str] = None,
              env: Optional[Dict[str, str]] = None) -> Process:
        """Starts `program` (a Unix path or a Windows path) with `args`; wine quotes each
        argument that holds a blank when it builds the Windows command line."""
        if program.startswith("/"):
            program = self.windows_path(program)
        fd, log_path = tempfile.mkstemp(suffix=".out", dir=self._logdir)
        popen = subprocess.Popen([WINE64, program, *args], cwd=cwd, env=self.env(env), stdin=subprocess.DEVNULL,
                                 stdout=fd, stderr=fd)
        os.close(fd)
        return Process(popen, log_path)

    def run(self, program: str, args: Iterable[str] = (), timeout: float = 60, **kw) -> Result:
        return self.start(program, args, **kw).wait(timeout)

    # --- registry
    def reg_add(self, key: str, name: str, value: str, kind: str = "REG_SZ"):
        r = self.run("reg", ["add", key, "/v", name, "/t", kind, "/d", value, "/f"], timeout=60)
        if r.exit_code != 0:
            raise RuntimeError(f"reg add {key} {name} failed: {r}")

    def reg_query(self, key: str, name: str) -> Optional[str]:
        r = self.run("reg", ["query", key, "/v", name], timeout=60)
        if r.exit_code != 0:
            return None
        for line in r.output.decode("cp1252").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

    def set_appdata(self, value: str):
        """Points the current user's "AppData" shell folder at `value` (a Windows path, or
        empty); the programs started afterwards read it at their start."""
        self.reg_add(SHELL_FOLDERS, "AppData", value)

    # --- processes of this prefix
    def processes(self) -> List[Tuple[int, str]]:
        """(pid, command line) of every Windows process of this prefix, wine's own included."""
        found = []
        marker = b"WINEPREFIX=" + self.prefix.encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if marker not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    cmd = f.read().replace(b"\0", b" ").strip().decode("utf-8", "replace")
            except OSError:
                continue
            found.append((int(pid), cmd))
        return found

    def kill_matching(self, needle: str, grace: float = 5.0) -> List[str]:
        """Kills the prefix's processes whose command line contains `needle` (case-blind);
        returns their command lines."""
        victims = [(pid, cmd) for pid, cmd in self.processes() if needle.lower() in cmd.lower()]
        for pid, _ in victims:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + grace
        while victims and time.monotonic() < deadline and any(os.path.exists(f"/proc/{p}") for p, _ in victims):
            time.sleep(0.05)
        return [cmd for _, cmd in victims]
