"""Checks of the scripted HTTP server itself, with a plain Python client."""
import base64
import http.client
import os
import socket
import tempfile
import time
import unittest

from harness.server import Fault, ScriptedHttpServer

E2E_NEEDS_WINE = False


class ScriptedServerTest(unittest.TestCase):
    def setUp(self):
        self.server = ScriptedHttpServer(tempfile.mkdtemp(prefix="srv-")).start()
        self.addCleanup(self.server.stop)
        self.server.put("/managedfiles/Kassa.txt", b"2013-07-18 10:00:00\r\n")

    def get(self, path, headers=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        self.addCleanup(conn.close)
        conn.request("GET", path, headers=headers or {})
        return conn.getresponse()

    def raw_get(self, path):
        """(header block, body bytes until the server closes)"""
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as s:
            s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            data = b""
            try:
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            except ConnectionResetError:
                data += b"<RST>"
        head, _, body = data.partition(b"\r\n\r\n")
        return head, body

    def test_serves_files_and_answers_404_for_the_rest(self):
        r = self.get("/managedfiles/Kassa.txt")
        self.assertEqual((r.status, r.getheader("Content-Length"), r.read()), (200, "21", b"2013-07-18 10:00:00\r\n"))
        for path in ("/managedfiles/Kassa.bin", "/../etc/passwd", "/managedfiles/"):
            with self.subTest(path=path):
                self.assertEqual(self.get(path).status, 404)

    def test_records_each_request_with_its_headers(self):
        self.get("/a", {"User-Agent": "WebCopy"}).read()
        self.get("/b").read()
        self.assertEqual(self.server.paths(), ["/a", "/b"])
        self.assertEqual(self.server.requests[0].header("user-agent"), "WebCopy")

    def test_scripted_status_codes(self):
        for status in (404, 500, 301):
            with self.subTest(status=status):
                self.server.script("/managedfiles/Kassa.txt", status=status)
                self.assertEqual(self.get("/managedfiles/Kassa.txt").status, status)

    def test_basic_credential_required(self):
        self.server.script("/managedfiles/Kassa.txt", auth=("anna", "l\xf6sen"))
        good = "Basic " + base64.b64encode("anna:l\xf6sen".encode("latin-1")).decode()
        bad = "Basic " + base64.b64encode(b"anna:fel").decode()
        for header, status in ((None, 401), (bad, 401), (good, 200)):
            with self.subTest(header=header):
                r = self.get("/managedfiles/Kassa.txt", {"Authorization": header} if header else {})
                self.assertEqual(r.status, status)
                if status == 401:
                    self.assertEqual(r.getheader("WWW-Authenticate"), 'Basic realm="e2e"')

    def test_truncated_and_reset_bodies(self):
        self.server.script("/t", body=b"x" * 1000, truncate_at=100)
        head, body = self.raw_get("/t")
        self.assertIn(b"Content-Length: 1000", head)
        self.assertEqual(body, b"x" * 100)
        self.server.script("/r", body=b"x" * 1000, reset_at=10)
        _, body = self.raw_get("/r")
        self.assertTrue(body.startswith(b"x" * 10) and len(body) <= 10 + len(b"<RST>"), body)

    def test_trickle_stops_after_its_bound(self):
        self.server.script("/slow", body=b"y" * 10000, trickle=(10, 0.05, 0.5))
        started = time.monotonic()
        _, body = self.raw_get("/slow")
        self.assertLess(time.monotonic() - started, 3)
        self.assertTrue(0 < len(body) < 10000, len(body))

    def test_trickle_delivered_whole_keeps_the_connection(self):
        # A client that reuses its connection must find the server still listening on it.
        self.server.script("/slow", body=b"y" * 40, trickle=(10, 0.01, 5))
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        self.addCleanup(conn.close)
        conn.request("GET", "/slow")
        self.assertEqual(conn.getresponse().read(), b"y" * 40)
        sock = conn.sock
        conn.request("GET", "/managedfiles/Kassa.txt")
        self.assertEqual(conn.getresponse().read(), b"2013-07-18 10:00:00\r\n")
        self.assertIs(conn.sock, sock, "the second request went over the first connection")

    def test_last_modified_and_missing_content_length(self):
        from datetime import datetime
        self.server.script("/d", body=b"abc", last_modified=datetime(2013, 7, 18, 9, 0, 0), content_length=False)
        head, body = self.raw_get("/d")
        self.assertIn(b"Last-Modified: Thu, 18 Jul 2013 09:00:00 GMT", head)
        self.assertNotIn(b"Content-Length", head)
        self.assertEqual(body, b"abc")

    def test_post_body_is_recorded(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        conn.request("PUT", "/up/file.bin", body=b"\x00\x01data")
        self.assertEqual(conn.getresponse().status, 200)
        conn.close()
        self.assertEqual((self.server.requests[-1].method, self.server.requests[-1].body), ("PUT", b"\x00\x01data"))

    def test_stops_by_itself(self):
        server = ScriptedHttpServer(tempfile.mkdtemp(prefix="srv-"), lifetime=0.3).start()
        self.addCleanup(server.stop)
        time.sleep(1.0)
        with self.assertRaises(ConnectionRefusedError):
            http.client.HTTPConnection("127.0.0.1", server.port, timeout=2).request("GET", "/")

if __name__ == "__main__":
    unittest.main()
