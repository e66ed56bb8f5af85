#!/usr/bin/python3
"""The launcher at work, under Wine: Demo.exe (the launcher) updates and starts Demo.exe
(the managed program) in AppData\\Brakven\\Applikationer from a local update server that
serves scripts/e2e/demo-server. Run through scripts/demo, which builds it first.

    demo.py <win64 build folder> [--signed]

--signed: the launcher is the build made with the end-to-end tests' public key
(tests/e2e/starter_signed.exe); the vendor side publishes each update with publish.exe
(its signing command, here under Wine) and the test key; the second start meets an update
whose program was changed after signing (it no longer matches the signed manifest) and keeps
the installed one.
"""
import os
import shutil
import sys
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
sys.dont_write_bytecode = True

from harness import fixture                      # noqa: E402
from harness.boxwatch import BoxWatch            # noqa: E402
from harness.managed import read_starts          # noqa: E402
from harness.server import ScriptedHttpServer    # noqa: E402
from harness.wine import Wine                    # noqa: E402

ARGS = ["/kund", "42", "C:\\data"]


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return None


def show_stamp(label, path):
    try:
        with open(path, "rb") as f:
            data = f.read()
        text = data.split(b"\r")[0].split(b"\n")[0].decode("cp1252")
        print(f"  {label:<22} {text!r}")
    except FileNotFoundError:
        print(f"  {label:<22} (none)")


def show_program(app, builds):
    try:
        with open(os.path.join(app, "Demo.exe"), "rb") as f:
            data = f.read()
        print(f"  {'installed Demo.exe':<22} {builds.get(data, 'unknown build')}")
    except FileNotFoundError:
        print(f"  {'installed Demo.exe':<22} (none)")


def run_once(wine, server, launcher, app, builds, title):
    print(f"\n== {title}")
    show_stamp("local stamp Demo.dat", os.path.join(app, "Demo.dat"))
    show_stamp("server stamp Demo.txt", os.path.join(server.root, "managedfiles", "Demo.txt"))
    show_program(app, builds)
    before = len(read_starts(os.path.join(app, "Demo.exe.log")))
    served = len(server.requests)
    print(f"  running: Demo.exe {' '.join(ARGS)}")
    started = time.monotonic()
    with server, BoxWatch(wine) as watch:
        result = wine.run(launcher, ARGS, timeout=120, cwd=os.path.dirname(launcher))
        time.sleep(0.5)
    print(f"  launcher exit code {result.exit_code} after {time.monotonic() - started:.1f} s")
    for box in watch.seen.boxes:
        print(f"  message box [{box.caption.decode('cp1252')}]: {box.text.decode('cp1252')!r}")
    print("  server answered: " + ", ".join(f"{r.method} {r.path}" for r in server.requests[served:]))
    show_stamp("local stamp after", os.path.join(app, "Demo.dat"))
    show_program(app, builds)
    for start in read_starts(os.path.join(app, "Demo.exe.log"))[before:]:
        print(f"  program started: build {start.version}, show mode {start.show} (2 = minimised)")
        print(f"    command line {start.cmdline.decode('cp1252')!r}")
        print(f"    arguments    {[a.decode('cp1252') for a in start.args]}")
    return result.exit_code == 0


def publish(wine, build, program, folder, stamp):
    """The vendor's step: publish.exe signs `program` with the test key into `folder`."""
    key = os.path.join(build, "tests", "e2e", "keys", "test-key.pem")
    args = ["Demo", wine.windows_path(program), wine.windows_path(folder), "--key", wine.windows_path(key),
            "--stamp", stamp]
    print(f"\n== vendor: publish {' '.join(args)}")
    result = wine.run(os.path.join(build, "publish.exe"), args, timeout=60)
    print("  " + result.output.decode("cp1252", "replace").strip())
    if result.exit_code != 0:
        raise SystemExit("publish failed")


def main(build, signed):
    e2e = os.path.join(build, "tests", "e2e")
    exes = {v: os.path.join(e2e, f"managed_{v}.exe") for v in ("v1", "v2")}
    base = cache_value(build, "UPDATE_BASE_URL") or "http://127.0.0.1:8642/"
    url = urllib.parse.urlsplit(base)
    if url.hostname not in ("127.0.0.1", "localhost"):
        sys.exit(f"this build updates from {base}; the demo serves 127.0.0.1 only")
    os.environ.setdefault("BOXWATCH_EXE", os.path.join(e2e, "boxwatch.exe"))
    os.environ["E2E_STATE_DIR"] = os.path.join(build, "demo-state")
    if fixture.setup() != 0:
        return 1
    try:
        wine = Wine.from_env()
        work = os.path.join(wine.drive_c, "demo")
        appdata = os.path.join(work, "AppData")
        app = os.path.join(appdata, "Brakven", "Applikationer")
        os.makedirs(app)
        wine.set_appdata(wine.windows_path(appdata))
        launcher = os.path.join(work, "bin", "Demo.exe")
        os.makedirs(os.path.dirname(launcher))
        shutil.copyfile(os.path.join(e2e, "starter_signed.exe") if signed else os.path.join(build, "starter.exe"),
                        launcher)
        shutil.copyfile(exes["v1"], os.path.join(app, "Demo.exe"))
        with open(os.path.join(app, "Demo.dat"), "wb") as f:
            f.write(b"2026-01-15 08:30:00\r\n")

        root = os.path.join(work, "server")
        served = os.path.join(root, url.path.strip("/"), "managedfiles")
        os.makedirs(served)
        with open(os.path.join(HERE, "demo-server", "managedfiles", "Demo.txt"), "rb") as f:
            stamp = f.read().split(b"\r")[0].decode()
        if signed:
            publish(wine, build, exes["v2"], served, stamp)
        else:
            shutil.copytree(os.path.join(HERE, "demo-server", "managedfiles"), served, dirs_exist_ok=True)
            shutil.copyfile(exes["v2"], os.path.join(served, "Demo.bin"))
        server = ScriptedHttpServer(root, port=url.port or 80)
        builds = {}
        for version, path in exes.items():
            with open(path, "rb") as f:
                builds[f.read()] = f"build {version} (managed.exe)"

        origin = "published above" if signed else f"serving {os.path.join(HERE, 'demo-server')}"
        print(f"update server  {base}managedfiles/ ({origin})")
        print(f"launcher       {wine.windows_path(launcher)}")
        print(f"app folder     {wine.windows_path(app)}\\")
        if signed:
            print(f"public key     {os.path.join(e2e, 'keys', 'test-public.pem')} (built into the launcher)")
            ok = run_once(wine, server, launcher, app, builds, "first start: a signed update with a newer stamp")
            later = stamp[:-2] + "%02d" % ((int(stamp[-2:]) + 1) % 60)
            publish(wine, build, exes["v1"], served, later)
            with open(os.path.join(served, "Demo.bin"), "r+b") as f:
                f.seek(-1, os.SEEK_END)
                last = f.read(1)
                f.seek(-1, os.SEEK_END)
                f.write(bytes([last[0] ^ 1]))
            print("  then one byte of Demo.bin changed on the server, after signing")
            ok &= run_once(wine, server, launcher, app, builds,
                           "second start: the program does not match the signed manifest, the installed one stays")
        else:
            ok = run_once(wine, server, launcher, app, builds, "first start: the server has a newer stamp")
            ok &= run_once(wine, server, launcher, app, builds, "second start: stamps equal, no download")
        return 0 if ok else 1
    finally:
        fixture.teardown(quiet=True)


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3) or sys.argv[2:] not in ([], ["--signed"]):
        sys.exit(__doc__)
    sys.exit(main(os.path.abspath(sys.argv[1]), sys.argv[2:] == ["--signed"]))
