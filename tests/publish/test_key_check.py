#!/usr/bin/python3
"""The build's check of UPDATE_PUBLIC_KEY (cmake/UpdateKey.cmake, run alone with CMAKE -P):
only an ECDSA P-256 public key passes, anything else stops with a message saying why."""
import os
import subprocess
import sys
import unittest

from test_publish import PublishCase, openssl


class KeyCheckTest(PublishCase):

    def test_build_takes_only_a_p256_public_key(self):
        self.keygen()
        run_openssl = [("rsa", ["genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024"]),
                       ("p384", ["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384"])]
        for name, args in run_openssl:
            openssl(*args, "-out", self.p(name + ".key"))
            openssl("pkey", "-in", self.p(name + ".key"), "-pubout", "-out", self.p(name + ".pub"))
        rows = [  # (file, accepted, part of the message)
            (self.pub, True, b"P-256 public key 3059301306072a8648ce3d0201"),
            (self.p("missing.pem"), False, b"no such file"),
            (self.key, False, b"is not a PEM public key"),
            (self.p("rsa.pub"), False, b"is not an ECDSA P-256 (prime256v1) public key"),
            (self.p("p384.pub"), False, b"is not an ECDSA P-256 (prime256v1) public key"),
        ]
        for path, accepted, text in rows:
            with self.subTest(file=os.path.basename(path)):
                r = subprocess.run([os.environ["CMAKE"], f"-DUPDATE_PUBLIC_KEY={path}", "-P", os.environ["KEY_CHECK"]],
                                   capture_output=True, cwd=self.dir)
                self.assertEqual(r.returncode == 0, accepted, r.stdout + r.stderr)
                self.assertIn(text, b" ".join((r.stdout + r.stderr).split()))  # CMake wraps its lines



if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
