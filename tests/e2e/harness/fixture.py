"""ctest fixture: one X display and one Wine prefix for the whole end-to-end run.

    python3 -m harness.fixture setup      # Xvfb, fresh prefix, persistent wineserver
    python3 -m harness.fixture teardown   # wineserver -k, Xvfb stopped

Everything started here ends by itself too: Xvfb runs under `timeout`, the wineserver
lingers only a bounded time after its last client.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import time

from .wine import DLL_OVERRIDES, WINE64, WINESERVER

LIFETIME = int(os.environ.get("E2E_LIFETIME", "2400"))    # seconds Xvfb may live at most
LINGER = int(os.environ.get("E2E_WINESERVER_LINGER", "300"))


def _state_dir():
    state = os.environ.get("E2E_STATE_DIR")
    if not state:
        sys.exit("E2E_STATE_DIR is not set")
    return state


def _env(state, display):
    env = dict(os.environ)
    env.update(WINEPREFIX=os.path.join(state, "prefix"), DISPLAY=display, WINEDEBUG="-all", TZ="UTC",
               WINEDLLOVERRIDES=DLL_OVERRIDES)
    return env


def _start_xvfb(state, log):
    """Xvfb on a display number it picks itself (-displayfd), in its own session."""
    read_fd, write_fd = os.pipe()
    proc = subprocess.Popen(
        ["timeout", "-k", "5", str(LIFETIME), "Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
         "-nolisten", "tcp", "-noreset"],
        stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_fd,), start_new_session=True)
    os.close(write_fd)
    with open(os.path.join(state, "xvfb.pgid"), "w") as f:
        f.write(str(proc.pid))
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_fd], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(read_fd, 16) if ready else b""
        if not chunk:
            raise RuntimeError("Xvfb did not report a display number")
        number += chunk
    os.close(read_fd)
    return ":" + number.decode().strip()


def _run(cmd, env, log, timeout):
    print("+", " ".join(cmd), flush=True)
    subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=timeout, check=True)


def setup():
    state = _state_dir()
    teardown(quiet=True)
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state)
    started = time.monotonic()
    with open(os.path.join(state, "setup.log"), "ab") as log:
        display = _start_xvfb(state, log)
        with open(os.path.join(state, "display"), "w") as f:
            f.write(display)
        print(f"Xvfb on {display}", flush=True)
        env = _env(state, display)
        try:
            _run([WINE64, "wineboot", "-i"], env, log, timeout=180)
            _run([WINESERVER, "-w"], env, log, timeout=60)
            # A lingering server saves every later program the server and desktop start-up.
            _run([WINESERVER, f"-p{LINGER}"], env, log, timeout=30)
            # Xvfb has no window manager: a managed window that is hidden makes Wine wait
            # 2 s for a withdrawal nobody confirms. Unmanaged windows are hidden at once.
            _run([WINE64, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                 env, log, timeout=60)
            # A crashing program would be held alive by winedbg's crash dialog (as by error
            # reporting on Windows); off, it ends with its exception code at once.
            _run([WINE64, "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
                  "/d", "0", "/f"], env, log, timeout=60)
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
            log.flush()
            with open(os.path.join(state, "setup.log"), "rb") as f:
                sys.stdout.write(f.read().decode("utf-8", "replace"))
            print(f"prefix creation failed: {e}", flush=True)
            teardown(quiet=True)
            return 1
    open(os.path.join(state, "ready"), "w").close()
    print(f"Wine prefix {env['WINEPREFIX']} ready in {time.monotonic() - started:.1f} s", flush=True)
    return 0


def teardown(quiet=False):
    state = _state_dir()
    prefix = os.path.join(state, "prefix")
    if os.path.isdir(prefix):
        env = _env(state, "")
        try:
            subprocess.run([WINESERVER, "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        except subprocess.TimeoutExpired:
            pass
    pgid_file = os.path.join(state, "xvfb.pgid")
    if os.path.exists(pgid_file):
        with open(pgid_file) as f:
            pgid = int(f.read())
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(pgid, sig)
            except ProcessLookupError:
                break
            time.sleep(0.5)
        os.remove(pgid_file)
    for name in ("ready", "display"):
        try:
            os.remove(os.path.join(state, name))
        except OSError:
            pass
    if not quiet:
        print("Wine and Xvfb stopped", flush=True)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in ("setup", "teardown"):
        sys.exit(__doc__)
    sys.exit(setup() if sys.argv[1] == "setup" else teardown())
