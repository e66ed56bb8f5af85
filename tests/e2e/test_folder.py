"""Programs of many files, end to end against an unsigned and a signed launcher: a release is
a manifest of files named by their SHA-256 (managedfiles/N.txt, N.files/<sha256>), installed
into a version folder of its own beside the running one and made current by N.dat. One walk
per build: a first install, a release that changes one file, an update while the program
runs, a tampered object, a release that crashes, hostile manifests; and a client moving from
a single file to the folder form."""
import hashlib
import os
import time
from typing import Dict, List, Optional

from harness.launcher import LauncherCase
from harness.managed import read_starts
from test_signed import SignedCase, manifest, sign

R1, R2, R3, R4, R5, R6 = (b"2026-12-08 10:00:0%d" % i for i in range(1, 7))


def sha(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


class FolderCase:
    """Mixin for LauncherCase and SignedCase: folder releases on the server, their version
    folders on the client."""
    SIGNED = False

    def exe(self, version: str) -> bytes:
        path = os.environ["MANAGED_CRASH_EXE"] if version == "crash" else self.managed_exe[version]
        with open(path, "rb") as f:
            return f.read()

    def manifest_text(self, stamp: bytes, files: Dict[str, bytes]) -> bytes:
        lines = sorted((p.encode("cp1252"), d) for p, d in files.items())
        return stamp + b"\r\n" + b"".join(b"file %s %d %s\r\n" % (sha(d).encode(), len(d), p) for p, d in lines)

    def release(self, stamp: bytes, files: Dict[str, bytes], txt: Optional[bytes] = None,
                objects: Optional[Dict[str, bytes]] = None) -> bytes:
        """Serves the objects, then (signed: N.sig and) N.txt; returns N.txt."""
        txt = txt if txt is not None else self.manifest_text(stamp, files)
        for data in files.values():
            self.server.put(self.url_path("Kassa.files/" + sha(data)), data)
        for name, data in (objects or {}).items():
            self.server.put(self.url_path("Kassa.files/" + name), data)
        self.server.put(self.url_path("Kassa.txt"), txt)
        if self.SIGNED:
            self.server.put(self.url_path("Kassa.sig"), sign(self.key, txt))
        return txt

    def vdir(self, txt: bytes) -> str:
        return os.path.join(self.app, "Kassa", sha(txt)[:16])

    def versions(self) -> List[str]:
        folder = os.path.join(self.app, "Kassa")
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def tree(self, folder: str) -> Dict[str, bytes]:
        """A version folder's files (relative, '/'), without managed.exe's log."""
        found = {}
        for top, _, names in os.walk(folder):
            for n in names:
                if n.endswith(".log"):
                    continue
                full = os.path.join(top, n)
                with open(full, "rb") as f:
                    found[os.path.relpath(full, folder).replace(os.sep, "/")] = f.read()
        return found

    def asked(self, *objects: bytes, newer: bool = True) -> List[str]:
        """What a run that fetches `objects` asks the server for, in order (`newer` False: an
        up-to-date start, which asks for no signature)."""
        head = ["Kassa.txt"] + (["Kassa.sig"] if self.SIGNED and newer else [])
        return [self.url_path(n) for n in head] + [self.url_path("Kassa.files/" + sha(o)) for o in objects]

    def assertRanFrom(self, txt: bytes, version: str, args=(b"/x",), before: int = 0):
        """The program of release `txt` ran once more (after `before` starts), minimised, as
        build `version`, from its version folder, with that folder as its working folder."""
        folder = self.vdir(txt)
        starts = read_starts(os.path.join(folder, "Kassa.exe.log"))[before:]
        self.assertEqual(len(starts), 1, f"expected one start from {folder}, saw {starts}")
        start = starts[0]
        self.assertEqual(start.version, version)
        self.assertEqual(start.show, 2)
        program = self.wine.windows_path(os.path.join(folder, "Kassa.exe")).encode("cp1252")
        self.assertEqual(start.cmdline, program + b" " + b"".join(a + b" " for a in args))
        self.assertEqual(start.cwd.lower(), self.wine.windows_path(folder).encode("cp1252").lower())
        return start

    def starts_in(self, txt: bytes) -> int:
        return len(read_starts(os.path.join(self.vdir(txt), "Kassa.exe.log")))

    def walk(self):
        v1, v2 = self.exe("v1"), self.exe("v2")
        lib, note = b"helper library " * 4000, b"note one\r\n"
        files1 = {"Kassa.exe": v1, "lib/helper.dll": lib, "data/note.txt": note}

        # A first install: every file fetched once, the program started from its folder.
        txt1 = self.release(R1, files1)
        run = self.launch(["/x"])
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertEqual(run.paths, self.asked(v1, note, lib))
        self.assertRanFrom(txt1, "v1")
        self.assertEqual(self.tree(self.vdir(txt1)), files1)
        self.assertEqual(self.read(".dat"), txt1)
        self.assertEqual(self.files(), ["Kassa", "Kassa.dat"])

        # One file changed: that object alone travels; the previous version stays.
        note2 = b"note two\r\n"
        files2 = dict(files1, **{"data/note.txt": note2})
        txt2 = self.release(R2, files2)
        run = self.launch(["/x"])
        self.assertNoMessages(run)
        self.assertEqual(run.paths, self.asked(note2))
        self.assertRanFrom(txt2, "v1")
        self.assertEqual(self.tree(self.vdir(txt2)), files2)
        self.assertEqual((self.read(".dat"), self.read(".prev.dat")), (txt2, txt1))

        # An update while the program runs: installed beside it, the running one untouched.
        running = self.wine.start(os.path.join(self.vdir(txt2), "Kassa.exe"), ["--stay=120000"],
                                  cwd=self.vdir(txt2))
        self._stayers.append(running)
        deadline = time.monotonic() + 30
        while self.starts_in(txt2) < 2:
            self.assertLess(time.monotonic(), deadline, "the installed program did not start")
            time.sleep(0.05)
        files3 = dict(files2, **{"Kassa.exe": v2})
        txt3 = self.release(R3, files3)
        run = self.launch(["/x"])
        self.assertNoMessages(run)
        self.assertEqual(run.paths, self.asked(v2))
        self.assertRanFrom(txt3, "v2")
        self.assertTrue(running.running(), "the running program was left alone")
        self.assertEqual(self.read(".dat"), txt3)
        # The oldest version shares the running program's file (a link): it waits until that
        # program has ended. The next start runs the new version, not watched, and removes it.
        self.assertEqual(self.versions(), sorted(sha(t)[:16] for t in (txt1, txt2, txt3)))
        running.kill()
        run = self.launch(["/x"])
        self.assertEqual(run.paths, self.asked(newer=False))
        self.assertRanFrom(txt3, "v2", before=1)
        self.assertEqual(self.versions(), sorted(sha(t)[:16] for t in (txt2, txt3)))

        # Each attack leaves release 3 current and started, and nothing of its own behind.
        note4 = b"note four\r\n"
        files4 = dict(files3, **{"data/note.txt": note4})
        crash = self.exe("crash")
        bad_paths = ["../up.dll", "C:/Windows/evil.dll", "lib\\back.dll", "/abs.dll", "data/../../x.dll",
                     "CON", "lib/nul.txt", "COM1.dll", "trailing.", "trailing ", "a:stream",
                     "x" * 241, "Lib/helper.dll"]
        attacks = [("tampered object", lambda: self.release(R4, files4, objects={sha(note4): b"note f0ur\r\n"}),
                    self.asked(note4))]
        attacks.append(("crash at start", lambda: self.release(R5, dict(files3, **{"Kassa.exe": crash})),
                        self.asked(crash)))
        for bad in bad_paths:
            attacks.append((f"path {bad!r}", lambda bad=bad: self.release(R6, dict(files3, **{bad: b"evil"})),
                            self.asked()))
        attacks.append(("no program", lambda: self.release(R6, {"lib/helper.dll": lib}), self.asked()))
        attacks.append(("a path that is a folder too",
                        lambda: self.release(R6, dict(files3, **{"data": b"file", "data/x": b"x"})), self.asked()))
        for why, mount, asked in attacks:
            with self.subTest(attack=why):
                before = self.starts_in(txt3)
                mount()
                run = self.launch(["/x"])
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertEqual(run.paths, asked)
                self.assertRanFrom(txt3, "v2", before=before)
                self.assertEqual((self.read(".dat"), self.read(".prev.dat")), (txt3, txt2))
                # The server's N.txt stays, as after any update that did not arrive.
                self.assertLessEqual(set(self.files()), {"Kassa", "Kassa.bad", "Kassa.dat", "Kassa.prev.dat",
                                                         "Kassa.txt"})
                # Only the current and the previous version stay, and the checked files of a
                # release that broke off, for its next try.
                keep = {sha(txt2)[:16], sha(txt3)[:16]}
                if why == "tampered object":
                    txt4 = self.manifest_text(R4, files4)
                    keep.add(sha(txt4)[:16])
                    self.assertNotIn("data/note.txt", self.tree(self.vdir(txt4)))
                if why == "crash at start":   # removed at the next start
                    keep.add(sha(self.manifest_text(R5, dict(files3, **{"Kassa.exe": crash})))[:16])
                self.assertEqual({v[:16] for v in self.versions()}, keep)
                if why == "crash at start":
                    self.assertTrue(self.read(".bad").startswith(R5), self.read(".bad"))
                    # Not fetched again while the server offers it.
                    run = self.launch(["/x"])
                    self.assertEqual(run.paths, self.asked())
                    self.assertRanFrom(txt3, "v2", before=before + 1)
                    self.assertEqual({v[:16] for v in self.versions()}, {sha(txt2)[:16], sha(txt3)[:16]})


class FolderUnsignedTest(FolderCase, LauncherCase):

    def test_folder_releases_install_switch_and_refuse(self):
        self.walk()

    def test_a_single_file_client_moves_to_the_folder_form(self):
        self.install("v1")
        self.write(".dat", R1 + b"\r\n")
        v1, note = self.exe("v1"), b"note\r\n"
        files = {"Kassa.exe": v1, "data/note.txt": note}
        txt = self.release(R2, files)
        run = self.launch(["/x"])
        self.assertNoMessages(run)
        # The installed program is the same file: only the note travels.
        self.assertEqual(run.paths, self.asked(note))
        self.assertRanFrom(txt, "v1")
        self.assertEqual(self.tree(self.vdir(txt)), files)
        self.assertEqual((self.read(".dat"), self.read(".prev.dat")), (txt, R1 + b"\r\n"))
        self.assertEqual(self.installed_version(), "v1", "the single file stays as the previous version")


class FolderSignedTest(FolderCase, SignedCase):
    SIGNED = True

    def test_signed_folder_releases_install_switch_and_refuse(self):
        self.walk()
        # A manifest signed by another key is refused whole, before any object is asked for.
        txt = self.manifest_text(R6, {"Kassa.exe": self.exe("v1")})
        self.release(R6, {"Kassa.exe": self.exe("v1")})
        self.server.put(self.url_path("Kassa.sig"), sign(self.other_key, txt))
        before = self.read(".dat")
        run = self.launch(["/x"])
        self.assertEqual(run.paths, self.asked())
        self.assertEqual(self.read(".dat"), before)
