#!/usr/bin/python3
"""publish NAME FOLDER OUTDIR: a program of many files as objects named by their SHA-256 and
a manifest of one line per file; only new objects are written; a folder that cannot be a
release is refused with nothing written. Natively, and with PUBLISH_WINE=1 publish.exe."""
import hashlib
import os
import sys
import unittest

from test_publish import PublishCase, STAMP, LATER, UNDER_WINE, openssl, pe_program, run_publish

PROGRAM = {  # path below the folder (UTF-8 here): bytes
    "Kassa.exe": pe_program(b"folder program"),
    "lib/a.dll": b"library a" * 1000,
    "Data/Hj\u00e4lp med blanka.txt": b"help",
    "Data/tom.ini": b"",
    "Data/samma.txt": b"help",  # the same bytes as another file: one object
}


class PublishFolderTest(PublishCase):

    def make_folder(self, files, name="program"):
        root = self.p(name)
        for path, data in files.items():
            full = os.path.join(root, *path.split("/"))
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        return root

    def publish_folder(self, folder, stamp=STAMP, key=True, expect=0):
        args = ["Kassa", folder, self.out] + (["--key", self.key] if key else []) + ["--stamp", stamp]
        r = run_publish(*args)
        self.assertEqual(r.returncode, expect, r.stdout + r.stderr)
        return r

    def expected_manifest(self, stamp, files):
        lines = sorted((p.encode("cp1252"), data) for p, data in files.items())
        return stamp.encode() + b"\r\n" + b"".join(
            b"file %s %d %s\r\n" % (hashlib.sha256(d).hexdigest().encode(), len(d), p) for p, d in lines)

    def server(self):
        """Every file under the output folder: relative path -> bytes."""
        found = {}
        for top, _, names in os.walk(self.out):
            for n in names:
                with open(os.path.join(top, n), "rb") as f:
                    found[os.path.relpath(os.path.join(top, n), self.out)] = f.read()
        return found

    def test_objects_then_signature_then_manifest_and_only_new_objects(self):
        self.keygen()
        r = self.publish_folder(self.make_folder(PROGRAM))
        self.assertEqual(self.read("Kassa.txt"), self.expected_manifest(STAMP, PROGRAM))
        self.assertVerifies()
        objects = {hashlib.sha256(d).hexdigest(): d for d in PROGRAM.values()}
        self.assertEqual({n: self.read(os.path.join("Kassa.files", n)) for n in os.listdir(self.p("server", "managedfiles", "Kassa.files"))}, objects)
        self.assertIn(b"4 of 5 files new, %d of %d bytes" % (sum(len(d) for d in objects.values()),
                                                           sum(len(d) for d in PROGRAM.values())), r.stdout)
        self.assertIn(b"lib" + os.sep.encode() + b"a.dll (9000 bytes)" if not UNDER_WINE else b"a.dll (9000 bytes)", r.stdout)

        # A second release that changes one file writes that one object, and a cut object
        # left by an earlier upload is written again; the others stay as they were.
        changed = dict(PROGRAM, **{"lib/a.dll": b"library a, fixed"})
        cut = os.path.join(self.out, "Kassa.files", hashlib.sha256(b"help").hexdigest())
        with open(cut, "wb") as f:
            f.write(b"he")
        kept = os.path.join(self.out, "Kassa.files", hashlib.sha256(PROGRAM["Kassa.exe"]).hexdigest())
        before = os.stat(kept)
        r = self.publish_folder(self.make_folder(changed, "program2"), stamp=LATER)
        self.assertIn(b"2 of 5 files new, 20 of", r.stdout)
        self.assertNotIn(b"Kassa.exe", r.stdout)
        self.assertEqual((os.stat(kept).st_ino, os.stat(kept).st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        with open(cut, "rb") as f:
            self.assertEqual(f.read(), b"help")
        self.assertEqual(self.read("Kassa.txt"), self.expected_manifest(LATER, changed))
        self.assertVerifies()
        self.assertEqual(len(os.listdir(os.path.join(self.out, "Kassa.files"))), 5)
        self.assertFalse([n for n in os.listdir(self.out) if n.endswith(".tmp")])

        # Without a key: the same manifest, and no signature.
        self.out = self.p("unsigned")
        os.makedirs(self.out)
        self.publish_folder(self.p("program2"), key=False)
        self.assertEqual(sorted(os.listdir(self.out)), ["Kassa.files", "Kassa.txt"])
        self.assertEqual(self.read("Kassa.txt"), self.expected_manifest(STAMP, changed))

    def test_a_folder_that_cannot_be_a_release_is_refused_with_nothing_written(self):
        self.keygen()
        self.publish_folder(self.make_folder(PROGRAM))
        before = self.server()
        rows = [  # (why, files added to the program (bin/Kassa.exe: instead of Kassa.exe), stamp)
            ("no Kassa.exe at the top", {"bin/Kassa.exe": pe_program()}, LATER),
            ("Kassa.exe no program", {"Kassa.exe": b"#!/bin/sh\n" + bytes(100)}, LATER),
            ("same stamp", {"new.txt": b"x"}, STAMP),
            ("device name", {"Data/aux.txt": b"x"}, LATER),
            ("trailing dot", {"Data/x.": b"x"}, LATER),
            ("path too long", {"d/" + "x" * 240: b"x"}, LATER),
        ]
        if not UNDER_WINE:  # names Wine shows under other names
            rows += [
                ("case twins", {"LIB/A.dll": b"x"}, LATER),
                ("colon", {"a:b.txt": b"x"}, LATER),
                ("backslash", {"a\\b.txt": b"x"}, LATER),
                ("trailing blank", {"x ": b"x"}, LATER),
                ("no Windows-1252 name", {"\u65e5\u672c.txt": b"x"}, LATER),
                ("control character", {"a\x01b": b"x"}, LATER),
            ]
        for i, (why, extra, stamp) in enumerate(rows):
            with self.subTest(why=why):
                files = dict(PROGRAM)
                if "bin/Kassa.exe" in extra:
                    del files["Kassa.exe"]
                files.update(extra)
                r = self.publish_folder(self.make_folder(files, f"bad{i}"), stamp=stamp, expect=1)
                self.assertIn(b"publish: ", r.stderr)
                self.assertEqual(self.server(), before)
        if not UNDER_WINE:
            # A link inside the folder would publish what lies outside it.
            folder = self.make_folder(PROGRAM, "linked")
            os.symlink(self.key, os.path.join(folder, "Data", "key.pem"))
            r = self.publish_folder(folder, stamp=LATER, expect=1)
            self.assertIn(b"link", r.stderr)
            self.assertEqual(self.server(), before)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
