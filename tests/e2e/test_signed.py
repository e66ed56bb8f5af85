"""Signed updates end to end: launchers built with a test key (starter_signed over http,
starter_signed_https over https://localhost) verify N.sig over the manifest N.txt with the
system's CNG, and install only an N.bin that matches it. The signatures are made by
`openssl dgst -sha256 -sign`, so these tests are also the proof that openssl's signatures
verify in the launcher. Each attack is mounted as an attacker on the wire would."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import time

from harness import tls
from harness.boxwatch import BoxWatch
from harness.launcher import NEW, STAMP, LauncherCase
from harness.server import Fault, ScriptedHttpServer

OPENSSL = os.environ.get("OPENSSL", "openssl")
NEWER = b"2013-07-18 12:00:00"
OLDER = b"2013-07-18 09:00:00"
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def sign(key: str, message: bytes) -> bytes:
    r = subprocess.run([OPENSSL, "dgst", "-sha256", "-sign", key], input=message, capture_output=True, check=True)
    return r.stdout


def manifest(stamp: bytes, program: bytes, eol: bytes = b"\r\n") -> bytes:
    return (stamp + eol + b"sha256 " + hashlib.sha256(program).hexdigest().encode() + eol +
            b"size " + str(len(program)).encode() + eol)


class SignedCase(LauncherCase):
    STARTER = "STARTER_SIGNED_EXE"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.key = os.environ["UPDATE_KEY"]
        cls.other_key = os.path.join(os.environ["E2E_STATE_DIR"], "other-key.pem")
        subprocess.run([OPENSSL, "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-out", cls.other_key], check=True, capture_output=True)

    def program(self, version: str) -> bytes:
        with open(self.managed_exe[version], "rb") as f:
            return f.read()

    def unsigned_program(self) -> bytes:
        """A Windows program the vendor never signed."""
        with open(os.environ["MSGBOX_EXE"], "rb") as f:
            return f.read()

    def install_signed(self, stamp: bytes = STAMP) -> bytes:
        """v1 installed with its verified manifest as N.dat."""
        self.install("v1")
        recorded = manifest(stamp, self.program("v1"))
        self.write(".dat", recorded)
        return recorded

    def serve_signed(self, txt: bytes, program: bytes, signature: bytes = None):
        """N.txt, N.bin and N.sig (by default the test key's signature over N.txt)."""
        self.server.put(self.url_path("Kassa.txt"), txt)
        self.server.put(self.url_path("Kassa.bin"), program)
        self.server.put(self.url_path("Kassa.sig"), sign(self.key, txt) if signature is None else signature)

    def assertInstalled(self, run, txt: bytes):
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v2", [b"/x"])
        self.assertEqual(self.installed_version(), "v2")
        self.assertEqual(run.paths, [self.url_path("Kassa." + e) for e in ("txt", "sig", "bin")])
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe", "Kassa.prev.exe"])
        self.assertEqual(self.read(".dat"), txt)

    def assertKept(self, run, recorded: bytes, asked=("txt", "sig", "bin")):
        """The installed v1 started quietly, N.dat as it was, nothing of the release left but
        the server's N.txt."""
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v1", [b"/x"])
        self.assertEqual(self.installed_version(), "v1")
        self.assertEqual(run.paths, [self.url_path("Kassa." + e) for e in asked])
        self.assertEqual(self.read(".dat"), recorded)
        self.assertTrue(set(self.files()) <= {"Kassa.dat", "Kassa.exe", "Kassa.txt"}, self.files())


class SignedUpdateTest(SignedCase):

    def test_signed_update_installs(self):
        self.install_signed()
        txt = manifest(NEW, self.program("v2"))
        self.serve_signed(txt, self.program("v2"))
        run = self.launch(["/x"])
        self.assertInstalled(run, txt)

    def test_release_made_with_the_readme_commands_installs(self):
        # The shell lines of the README's "By hand" block, run as they stand there.
        with open(README, encoding="utf-8") as f:
            text = f.read()
        block = re.search(r"\*\*By hand\*\*.*?```sh\n(.*?)```", text, re.S).group(1)
        self.assertIn("openssl dgst -sha256 -sign", block)
        work = tempfile.mkdtemp(prefix="by-hand-")
        self.addCleanup(shutil.rmtree, work, True)
        shutil.copyfile(self.managed_exe["v2"], os.path.join(work, "Kassa.exe"))
        shutil.copyfile(self.key, os.path.join(work, "kassa-key.pem"))
        subprocess.run(["bash", "-e", "-c", block], cwd=work, check=True, capture_output=True,
                       env={**os.environ, "PATH": os.path.dirname(OPENSSL) + ":" + os.environ["PATH"]})
        files = {}
        for ext in ("txt", "sig", "bin"):
            with open(os.path.join(work, "Kassa." + ext), "rb") as f:
                files[ext] = f.read()
        self.install_signed()
        self.serve_signed(files["txt"], files["bin"], files["sig"])
        run = self.launch(["/x"])
        self.assertInstalled(run, files["txt"])
        self.assertEqual(files["txt"][:19], b"2026-12-08 10:00:00")

    def test_update_without_a_valid_signature_keeps_the_old_program(self):
        v2 = self.program("v2")
        changed = v2[:-1] + bytes([v2[-1] ^ 1])
        txt = manifest(NEW, v2)
        unsigned = self.unsigned_program()
        rows = [  # (why, N.txt, N.bin, N.sig: bytes or a Fault for its URL, what is asked)
            ("program changed by one byte", txt, changed, None, "txt sig bin"),
            ("signed by another key", txt, v2, sign(self.other_key, txt), "txt sig"),
            ("no N.sig on the server", txt, v2, Fault(status=404), "txt sig"),
            ("stamp changed after signing", manifest(NEWER, v2), v2, sign(self.key, txt), "txt sig"),
            ("another release's program", txt, unsigned, None, "txt sig bin"),
            ("signature cut short", txt, v2, sign(self.key, txt)[:-1], "txt sig"),
            ("program with bytes added", txt, v2 + b"\0" * 70000, None, "txt sig bin"),
            ("program cut short", txt, v2[:-1], None, "txt sig bin"),
            # The earlier format: a stamp alone, signed together with the program.
            ("a stamp signed with the program", NEW + b"\r\n", v2, sign(self.key, NEW + b"\r\n" + v2), "txt sig"),
            # The program's first two bytes moved onto the end of the signed text.
            ("bytes moved across the boundary", txt + v2[:2], v2[2:], sign(self.key, txt), "txt sig"),
        ]
        for why, txt_served, program, signature, asked in rows:
            with self.subTest(why=why):
                self.fresh()
                recorded = self.install_signed()
                if isinstance(signature, Fault):
                    self.serve_signed(txt_served, program, b"")
                    self.server.script(self.url_path("Kassa.sig"), signature)
                else:
                    self.serve_signed(txt_served, program, signature)
                run = self.launch(["/x"])
                self.assertKept(run, recorded, asked.split())

    def test_a_stamp_that_is_not_newer_is_never_recorded(self):
        """The downgrade: a forged 0000 is not recorded, so an older genuine release stays older."""
        recorded = self.install_signed()
        older = manifest(OLDER, self.program("v2"))
        for why, txt in (("forged", b"0000\r\n"), ("older signed", older), ("the same", recorded)):
            with self.subTest(why=why):
                self.serve_signed(txt, self.program("v2"))
                self.server.put(self.url_path("Kassa.sig"), sign(self.key, txt))
                before = len(self.starts())
                run = self.launch(["/x"])
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertEqual(run.paths, [self.url_path("Kassa.txt")])
                self.assertEqual(self.read(".dat"), recorded)
                self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe"])
                self.assertEqual(self.installed_version(), "v1")
                self.assertEqual(len(self.starts()), before + 1)

    def test_a_huge_stamp_file_is_not_kept(self):
        recorded = self.install_signed()
        huge = NEW + b"\r\n" + b"x" * (20 << 20)
        self.server.put(self.url_path("Kassa.txt"), huge)
        self.server.put(self.url_path("Kassa.bin"), self.program("v2"))
        self.server.put(self.url_path("Kassa.sig"), sign(self.key, huge))
        run = self.launch(["/x"])
        self.assertKept(run, recorded, ["txt"])
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe"])

    def test_two_launchers_at_once_never_install_anything_unverified(self):
        """The race: while one launcher holds its verified download, a second one's download of
        the same release gets the attacker's program. The server holds every N.bin response,
        so the two runs overlap; many rounds."""
        v2 = self.program("v2")
        txt = manifest(NEW, v2)
        bins = [os.path.join(self.work, f"bin{i}") for i in (1, 2)]
        for folder in bins:
            os.makedirs(folder)
            shutil.copyfile(self.starter_exe, os.path.join(folder, "Kassa.exe"))
        for round_ in range(6):
            with self.subTest(round=round_):
                self.fresh()
                self.install_signed()
                self.serve_signed(txt, v2)
                self.server.script(self.url_path("Kassa.bin"), Fault(delay=1.5, bodies=[v2, self.unsigned_program()]))
                self.server.script(self.url_path("Kassa.txt"), Fault(delay=0.5))
                self.server.start()
                try:
                    with BoxWatch(self.wine) as watch:
                        procs = [self.wine.start(os.path.join(f, "Kassa.exe"), ["/x"], cwd=f) for f in bins]
                        results = [p.wait(150) for p in procs]
                        self._wait_for_started_programs()
                finally:
                    self.server.stop()
                for r in results:
                    self.assertFalse(r.timed_out)
                    self.assertEqual(r.exit_code, 0)
                self.assertEqual(watch.seen.boxes, [])
                self.assertEqual(self.installed_version(), "v2")
                self.assertEqual(self.read(".dat"), txt)
                self.assertEqual([s.version for s in self.starts()], ["v2", "v2"])
                self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe", "Kassa.prev.exe"])
                # One after the other, each its whole line: the second found the first's release.
                self.assertEqual([line.split(b" | ")[1] for line in self.read(".log").splitlines()],
                                 [b"installed", b"up to date"])


class HttpsUpdateTest(SignedCase):
    STARTER = "STARTER_SIGNED_HTTPS_EXE"
    BASE_URL = os.environ.get("HTTPS_BASE_URL", "https://localhost:8443/")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.certs = tls.make_certificates(os.path.join(os.environ["E2E_STATE_DIR"], "tls"))
        tls.trust(cls.wine, cls.certs["ca.der"])

    def use_certificate(self, name: str):
        self.server_tls = tls.server_context(self.certs[name])
        self.fresh()

    def test_trusted_certificate_updates(self):
        self.use_certificate("trusted")
        self.install_signed()
        txt = manifest(NEW, self.program("v2"))
        self.serve_signed(txt, self.program("v2"))
        run = self.launch(["/x"])
        self.assertInstalled(run, txt)

    def test_certificate_not_trusted_keeps_the_old_program(self):
        for name in ("untrusted", "other-name", "expired"):
            with self.subTest(certificate=name):
                self.use_certificate(name)
                recorded = self.install_signed()
                self.serve_signed(manifest(NEW, self.program("v2")), self.program("v2"))
                run = self.launch(["/x"])
                # The connection ended in the handshake: no request was ever read.
                self.assertKept(run, recorded, [])
                self.assertNotIn("Kassa.bin", self.files())

    def test_a_redirect_to_http_is_never_followed(self):
        """Each of the three files redirected to the same files on a plain http server: that
        server is never asked, and nothing is installed."""
        self.use_certificate("trusted")
        http_base = os.environ.get("UPDATE_BASE_URL", "http://127.0.0.1:8642/")
        plain = ScriptedHttpServer(os.path.join(self.work, "plain"), port=int(http_base.rsplit(":", 1)[1].strip("/")))
        v2 = self.program("v2")
        txt = manifest(NEW, v2)
        for name, data in (("Kassa.txt", txt), ("Kassa.sig", sign(self.key, txt)), ("Kassa.bin", v2)):
            plain.put("/managedfiles/" + name, data)
        plain.start()
        self.addCleanup(plain.stop)
        for moved, asked in (("Kassa.txt", ["txt"]), ("Kassa.sig", ["txt", "sig"]), ("Kassa.bin", ["txt", "sig", "bin"])):
            with self.subTest(redirected=moved):
                self.fresh()
                recorded = self.install_signed()
                self.serve_signed(txt, v2)
                self.server.script(self.url_path(moved), Fault(status=302, headers={
                    "Location": http_base + "managedfiles/" + moved}))
                run = self.launch(["/x"])
                self.assertKept(run, recorded, asked)
        self.assertEqual(plain.requests, [])


if __name__ == "__main__":
    import unittest
    unittest.main()
