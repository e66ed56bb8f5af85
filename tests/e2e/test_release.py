"""The vendor's release archive (scripts/release) as a vendor uses it: unpacked into an empty
folder, its launcher branded with the unpacked `publish brand`, a signed release published
with the unpacked `publish`, optionally the launcher signed with osslsigncode, and under Wine
the branded launcher updates and starts the program. The archive's generic launcher updates
nothing and says so.

RELEASE_ARCHIVE names the archive; without it the tests are skipped, except in CI
(CI=true), where scripts/test builds it first and a missing archive is a failure."""
import hashlib
import os
import re
import shutil
import subprocess
import unittest

from harness.launcher import STAMP, LauncherCase

OPENSSL = os.environ.get("OPENSSL", "openssl")
NEW = "2013-07-18 11:00:00"
LIMIT_WIN32_STARTER = 600 * 1024
ENTRIES = ["README.txt", "SHA256SUMS", "publish", "publish.exe", "win32/starter.exe", "win32/wcopy.exe",
           "win64/starter.exe"]
MARKER = b"\xc5STARTER-CONFIG\0"

CODE_SIGNING_CONFIG = """[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, **kw)


def make_code_signing(folder: str) -> dict:
    """A throwaway certificate authority and a code-signing certificate it issued, in a
    PKCS#12 file with a password in a file, as a vendor has them."""
    os.makedirs(folder, exist_ok=True)
    p = lambda name: os.path.join(folder, name)
    with open(p("ext.cnf"), "w") as f:
        f.write(CODE_SIGNING_CONFIG)
    with open(p("password.txt"), "w") as f:
        f.write("kodsigneringstest\n")
    steps = [
        ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", p("ca.key"), "-out", p("ca.pem"), "-days", "2",
         "-subj", "/CN=Test Code Signing CA", "-extensions", "ca", "-config", p("ext.cnf")],
        ["req", "-newkey", "rsa:2048", "-nodes", "-keyout", p("leaf.key"), "-out", p("leaf.csr"),
         "-subj", "/CN=Brakven Test Vendor"],
        ["x509", "-req", "-in", p("leaf.csr"), "-CA", p("ca.pem"), "-CAkey", p("ca.key"), "-CAcreateserial",
         "-out", p("leaf.pem"), "-days", "2", "-extfile", p("ext.cnf"), "-extensions", "leaf"],
        ["pkcs12", "-export", "-inkey", p("leaf.key"), "-in", p("leaf.pem"), "-certfile", p("ca.pem"),
         "-passout", "file:" + p("password.txt"), "-out", p("cert.pfx")],
    ]
    for step in steps:
        r = run(OPENSSL, *step, input=b"")
        if r.returncode != 0:
            raise AssertionError(f"openssl {step[0]}: {r.stderr.decode(errors='replace')}")
    return {"pfx": p("cert.pfx"), "password": p("password.txt"), "ca": p("ca.pem")}


class ReleaseCase(LauncherCase):
    STARTER = "MANAGED_V1_EXE"   # replaced per test by a launcher from the archive

    @classmethod
    def setUpClass(cls):
        archive = os.environ.get("RELEASE_ARCHIVE", "")
        if not os.path.isfile(archive):
            if os.environ.get("CI") == "true":
                raise AssertionError(f"no release archive {archive}: scripts/test builds it with scripts/release")
            raise unittest.SkipTest(f"no release archive {archive or '(RELEASE_ARCHIVE unset)'}: run scripts/release")
        super().setUpClass()
        cls.archive = archive
        cls.version = re.search(r"starter-([0-9.]+)\.zip$", archive).group(1)

    def setUp(self):
        super().setUp()
        self.kit = os.path.join(self.work, "kit")
        os.makedirs(self.kit)
        r = run("unzip", "-q", self.archive, "-d", self.kit)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.vendor = os.path.join(self.work, "vendor")
        os.makedirs(self.vendor)
        r = self.publish_tool("keygen", self.v("key.pem"), self.v("public.pem"))
        self.assertEqual(r.returncode, 0, r.stderr)

    def v(self, name: str) -> str:
        return os.path.join(self.vendor, name)

    def publish_tool(self, *args):
        return run(os.path.join(self.kit, "publish"), *args)

    def brand(self, out: str, *extra, generic: str = "win64/starter.exe"):
        r = self.publish_tool("brand", os.path.join(self.kit, generic), out, "--url", self.BASE_URL,
                              "--key", self.v("public.pem"), *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def serve_signed_release(self):
        """v2 published with the unpacked publish; whatever it wrote goes to the server."""
        upload = self.v("upload")
        os.makedirs(upload)
        r = self.publish_tool("Kassa", self.managed_exe["v2"], upload, "--key", self.v("key.pem"), "--stamp", NEW)
        self.assertEqual(r.returncode, 0, r.stderr)
        for name in sorted(os.listdir(upload)):
            with open(os.path.join(upload, name), "rb") as f:
                self.server.put(self.url_path(name), f.read())

    def version_strings(self, program: str) -> dict:
        out = os.path.join(self.work, "verinfo.txt")
        r = self.wine.run(os.environ["VERINFO_EXE"], [self.wine.windows_path(program), self.wine.windows_path(out)])
        self.assertEqual(r.exit_code, 0, f"no version resource in {program}")
        with open(out, "rb") as f:
            return dict(line.split(b"=", 1) for line in f.read().splitlines())

    def assertUpdatedWith(self, launcher: str):
        self.starter_exe = launcher
        self.install("v1")
        self.write(".dat", STAMP)
        self.serve_signed_release()
        run_ = self.launch(["/x"])
        self.assertExitedNormally(run_)
        self.assertNoMessages(run_)
        self.assertStarted("v2", [b"/x"])
        self.assertEqual(self.installed_version(), "v2")
        self.assertEqual(self.read(".dat").splitlines()[0], NEW.encode())
        self.assertNotIn("Kassa.bin", self.files())
        # Only the branded server's managedfiles/ was asked, beginning with the stamp.
        self.assertTrue(run_.paths and run_.paths[0] == self.url_path("Kassa.txt"), run_.paths)
        for path in run_.paths:
            self.assertTrue(path.startswith(self.url_path("")), path)


class ReleaseArchiveTest(ReleaseCase):

    def test_archive_holds_the_generic_programs_checksummed_and_small(self):
        found = sorted(os.path.relpath(os.path.join(d, f), self.kit).replace(os.sep, "/")
                       for d, _, files in os.walk(self.kit) for f in files)
        self.assertEqual(found, sorted(ENTRIES))
        with open(os.path.join(self.kit, "SHA256SUMS")) as f:
            sums = dict(reversed(line.split()) for line in f.read().splitlines())
        self.assertEqual(sorted(sums), sorted(e for e in ENTRIES if e != "SHA256SUMS"))
        for name, digest in sums.items():
            with open(os.path.join(self.kit, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)
        self.assertLessEqual(os.path.getsize(os.path.join(self.kit, "win32/starter.exe")), LIMIT_WIN32_STARTER)
        for name in ("win32/starter.exe", "win64/starter.exe"):
            with open(os.path.join(self.kit, name), "rb") as f:
                data = f.read()
            at = data.find(MARKER)
            self.assertEqual(data.count(MARKER), 1, name)
            self.assertEqual(data[at + len(MARKER):at + 384], bytes(384 - len(MARKER)), f"{name} is not generic")
        for name, original in (("win32/starter.exe", b"starter.exe"), ("win32/wcopy.exe", b"wcopy.exe"),
                               ("publish.exe", b"publish.exe"), ("win64/starter.exe", b"starter.exe")):
            strings = self.version_strings(os.path.join(self.kit, name))
            self.assertEqual(strings[b"FileVersion"], self.version.encode() + b".0", name)
            self.assertEqual(strings[b"ProductVersion"], self.version.encode() + b".0", name)
            self.assertEqual(strings[b"OriginalFilename"], original, name)
            self.assertTrue(strings[b"FileDescription"], name)

    def test_generic_launcher_says_it_has_no_url_and_starts_the_installed_program(self):
        self.starter_exe = os.path.join(self.kit, "win64", "starter.exe")
        self.install("v1")
        self.write(".dat", STAMP)
        self.serve_signed_release()
        run_ = self.launch(["/x"])
        self.assertExitedNormally(run_)
        launcher = self.wine.windows_path(os.path.join(self.bin, "Kassa.exe")).encode("cp1252")
        self.assertMessage(run_, b"N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren\r\n" + launcher +
                           b" saknar uppdateringsadress")
        self.assertStarted("v1", [b"/x"])
        self.assertEqual(run_.requests, [])
        self.assertEqual(self.read(".dat"), STAMP)
        self.assertEqual(self.installed_version(), "v1")

    def test_branded_launcher_updates_and_carries_the_vendor_names(self):
        branded = self.brand(self.v("Kassa.exe"), "--company", "Br\u00e4kven AB", "--product", "Kassa")
        strings = self.version_strings(branded)
        self.assertEqual(strings[b"CompanyName"], b"Br\xe4kven AB")
        self.assertEqual(strings[b"ProductName"], b"Kassa")
        self.assertEqual(strings[b"OriginalFilename"], b"starter.exe")
        # Branding a branded launcher again is refused, and leaves no file behind.
        r = self.publish_tool("brand", branded, self.v("again.exe"), "--url", self.BASE_URL)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"branded already", r.stderr)
        self.assertFalse(os.path.exists(self.v("again.exe")))
        self.assertUpdatedWith(branded)

    def test_launcher_signed_with_osslsigncode_verifies_and_updates(self):
        cert = make_code_signing(self.v("signing"))
        branded = self.brand(self.v("Kassa.exe"), "--company", "Brakven AB", "--product", "Kassa")
        header, computed = self.version_strings(branded)[b"CheckSum"].split()
        self.assertEqual(header, computed, "brand left a stale PE checksum")

        r = run(os.environ["SIGN_SCRIPT"], "--pfx", cert["pfx"], "--password-file", cert["password"], branded)
        self.assertEqual(r.returncode, 0, r.stderr)
        verified = run("osslsigncode", "verify", "-CAfile", cert["ca"], "-in", branded)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn(b"Signature verification: ok", verified.stdout)
        self.assertRegex(verified.stdout, rb"Message digest algorithm\s*:\s*SHA256")
        # A signed launcher cannot be branded: the signature would no longer match.
        r = self.publish_tool("brand", branded, self.v("rebranded.exe"), "--url", self.BASE_URL)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Authenticode", r.stderr)
        self.assertUpdatedWith(branded)
