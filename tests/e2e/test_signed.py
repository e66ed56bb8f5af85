"""Signed updates end to end: launchers built with a test key (starter_signed over http,
starter_signed_https over https://localhost) verify N.sig with the system's CNG. The
signatures are made by `openssl dgst -sha256 -sign`, so these tests are also the proof that
openssl's signatures verify in the launcher."""
import os
import subprocess

from harness import tls
from harness.launcher import NEW, STAMP, LauncherCase
from harness.server import Fault

OPENSSL = os.environ.get("OPENSSL", "openssl")
NEWER = b"2013-07-18 12:00:00"


def sign(key: str, message: bytes) -> bytes:
    r = subprocess.run([OPENSSL, "dgst", "-sha256", "-sign", key], input=message, capture_output=True, check=True)
    return r.stdout


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

    def serve_signed(self, stamp: bytes, program: bytes, signature: bytes = None):
        """N.txt, N.bin and N.sig (by default the test key's signature over the two)."""
        self.server.put(self.url_path("Kassa.txt"), stamp)
        self.server.put(self.url_path("Kassa.bin"), program)
        if signature is None:
            signature = sign(self.key, stamp + program)
        self.server.put(self.url_path("Kassa.sig"), signature)

    def assertInstalled(self, run, stamp: bytes):
        self.assertExitedNormally(run)
        self.assertNoMessages(run)
        self.assertStarted("v2", [b"/x"])
        self.assertEqual(self.installed_version(), "v2")
        self.assertEqual(run.paths, [self.url_path("Kassa." + e) for e in ("txt", "bin", "sig")])
        self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe"])
        self.assertEqual(self.read(".dat"), stamp)


class SignedUpdateTest(SignedCase):

    def test_signed_update_installs(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.serve_signed(NEW + b"\r\n", self.program("v2"))
        run = self.launch(["/x"])
        self.assertInstalled(run, NEW + b"\r\n")

    def test_update_without_a_valid_signature_keeps_the_old_program(self):
        v2 = self.program("v2")
        changed = v2[:-1] + bytes([v2[-1] ^ 1])
        stamp = NEW + b"\r\n"
        rows = [  # (why, N.txt, N.bin, N.sig: bytes, or a Fault for its URL)
            ("program changed by one byte", stamp, changed, sign(self.key, stamp + v2)),
            ("signed by another key", stamp, v2, sign(self.other_key, stamp + v2)),
            ("no N.sig on the server", stamp, v2, Fault(status=404)),
            ("stamp changed after signing", NEWER + b"\r\n", v2, sign(self.key, stamp + v2)),
            # An older signed update's stamp beside the program and signature of a newer one.
            ("older N.txt with a newer N.bin", stamp, v2, sign(self.key, NEWER + b"\r\n" + v2)),
            ("signature cut short", stamp, v2, sign(self.key, stamp + v2)[:-1]),
        ]
        for why, txt, program, signature in rows:
            with self.subTest(why=why):
                self.fresh()
                self.install("v1")
                self.write(".dat", STAMP)
                if isinstance(signature, Fault):
                    self.serve_signed(txt, program, b"")
                    self.server.script(self.url_path("Kassa.sig"), signature)
                else:
                    self.serve_signed(txt, program, signature)
                run = self.launch(["/x"])
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertStarted("v1", [b"/x"])
                self.assertEqual(self.installed_version(), "v1")
                self.assertEqual(run.paths, [self.url_path("Kassa." + e) for e in ("txt", "bin", "sig")])
                # N.bin and N.sig are gone, N.dat is as it was, so the next start tries again.
                self.assertEqual(self.files(), ["Kassa.dat", "Kassa.exe", "Kassa.txt"])
                self.assertEqual(self.read(".dat"), STAMP)


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
        self.install("v1")
        self.write(".dat", STAMP)
        self.serve_signed(NEW + b"\r\n", self.program("v2"))
        run = self.launch(["/x"])
        self.assertInstalled(run, NEW + b"\r\n")

    def test_certificate_not_trusted_keeps_the_old_program(self):
        for name in ("untrusted", "other-name", "expired"):
            with self.subTest(certificate=name):
                self.use_certificate(name)
                self.install("v1")
                self.write(".dat", STAMP)
                self.serve_signed(NEW + b"\r\n", self.program("v2"))
                run = self.launch(["/x"])
                self.assertExitedNormally(run)
                self.assertNoMessages(run)
                self.assertStarted("v1", [b"/x"])
                self.assertEqual(self.installed_version(), "v1")
                # The connection ended in the handshake: no request was ever read.
                self.assertEqual(run.paths, [])
                self.assertNotIn("Kassa.bin", self.files())


if __name__ == "__main__":
    import unittest
    unittest.main()
