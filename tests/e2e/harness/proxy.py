"""A forwarding HTTP proxy on 127.0.0.1 that asks for Basic proxy credentials (407) and
records what each request brought: the absolute URL and the Proxy-Authorization header. It
also opens tunnels (CONNECT, no credentials asked) and records each CONNECT's full head."""
import base64
import http.server
import select
import socket
import threading
import time
import urllib.request
from typing import List, Optional, Tuple


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        owner = self.server.owner
        given = self.headers.get("Proxy-Authorization")
        owner.requests.append((self.path, given))
        if given != owner.expected:
            body = b"proxy login\n"
            self.send_response(407)
            self.send_header("Proxy-Authenticate", 'Basic realm="e2e proxy"')
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        # Forward without the proxy's header; what the client sent the server goes along.
        headers = {k: v for k, v in self.headers.items()
                   if k.lower() not in ("proxy-authorization", "proxy-connection", "host")}
        with urllib.request.urlopen(urllib.request.Request(self.path, headers=headers), timeout=20) as r:
            body = r.read()
            status = r.status
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


    def do_CONNECT(self):
        owner = self.server.owner
        owner.connects.append(str(self.headers))
        host, _, port = self.path.rpartition(":")
        try:
            upstream = socket.create_connection((host, int(port)), timeout=10)
        except OSError:
            self.send_error(502)
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        client = self.connection
        end = time.monotonic() + 30  # a tunnel never outlives the test
        try:
            while time.monotonic() < end:
                ready, _, _ = select.select([client, upstream], [], [], 0.2)
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        return
                    (upstream if s is client else client).sendall(data)
        except OSError:
            pass
        finally:
            upstream.close()
            self.close_connection = True


class ProxyServer:
    def __init__(self, credentials: Tuple[str, str]):
        user, password = credentials
        self.expected = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
        self.requests: List[Tuple[str, Optional[str]]] = []
        self.connects: List[str] = []  # the head of each CONNECT, as received
        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _Handler)
        self._httpd.daemon_threads = True
        self._httpd.owner = self
        self.port = self._httpd.server_address[1]

    def start(self):
        threading.Thread(target=self._httpd.serve_forever, daemon=True).start()
        return self

    def stop(self):
        self._httpd.shutdown()
        self._httpd.server_close()
