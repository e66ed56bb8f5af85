"""vsftpd on 127.0.0.1 for end-to-end tests: anonymous logins into a folder of the test's own,
uploads, folders, renames and deletions allowed in its `pub` folder (owned by the `ftp`
account that vsftpd runs anonymous sessions as). Needs root (vsftpd drops to `ftp` itself);
`available()` says whether it can run here."""
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time
from typing import Optional

VSFTPD = "/usr/sbin/vsftpd"
EMPTY = "/var/run/vsftpd/empty"


def _free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Vsftpd:
    def __init__(self):
        self.port = 0
        self.root = ""
        self._dir = ""
        self._proc: Optional[subprocess.Popen] = None

    @staticmethod
    def available() -> Optional[str]:
        """None when vsftpd can run here, else why not."""
        if not os.path.exists(VSFTPD):
            return "vsftpd is not installed"
        if os.geteuid() != 0:
            return "vsftpd needs root"
        try:
            pwd.getpwnam("ftp")
        except KeyError:
            return "no ftp account"
        return None

    def start(self) -> "Vsftpd":
        os.makedirs(EMPTY, exist_ok=True)
        self._dir = tempfile.mkdtemp(prefix="vsftpd-")
        os.chmod(self._dir, 0o755)
        # The chroot must not be writable by the session's account; pub is.
        self.root = os.path.join(self._dir, "root")
        os.makedirs(os.path.join(self.root, "pub"))
        os.chmod(self.root, 0o755)
        ftp = pwd.getpwnam("ftp")
        os.chown(os.path.join(self.root, "pub"), ftp.pw_uid, ftp.pw_gid)
        for attempt in range(5):
            self.port = _free_port()
            conf = os.path.join(self._dir, "vsftpd.conf")
            with open(conf, "w") as f:
                f.write("\n".join([
                    "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", f"listen_port={self.port}",
                    "background=NO", "anonymous_enable=YES", "local_enable=NO", "no_anon_password=YES",
                    f"anon_root={self.root}", "write_enable=YES", "anon_upload_enable=YES",
                    "anon_mkdir_write_enable=YES", "anon_other_write_enable=YES", "anon_world_readable_only=NO",
                    "anon_umask=022", "pasv_enable=YES", "pasv_address=127.0.0.1", "connect_from_port_20=NO",
                    f"secure_chroot_dir={EMPTY}", "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
                    "xferlog_enable=NO", "log_ftp_protocol=YES", f"vsftpd_log_file={self._dir}/log",
                    "dirmessage_enable=NO", "use_localtime=NO", ""]))
            os.chmod(conf, 0o600)
            self._proc = subprocess.Popen([VSFTPD, conf], stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and self._proc.poll() is None:
                try:
                    with socket.create_connection(("127.0.0.1", self.port), timeout=1) as c:
                        if c.recv(64).startswith(b"220"):
                            return self
                except OSError:
                    time.sleep(0.05)
            self.stop(keep_files=True)
        raise RuntimeError("vsftpd did not start")

    def log(self) -> str:
        try:
            with open(os.path.join(self._dir, "log"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def path(self, relative: str) -> str:
        return os.path.join(self.root, *relative.split("/"))

    def put(self, relative: str, data: bytes):
        full = self.path(relative)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)

    def read(self, relative: str) -> Optional[bytes]:
        full = self.path(relative)
        if not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    def stop(self, keep_files: bool = False):
        proc, self._proc = self._proc, None
        if proc is not None and proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(5)
        if proc is not None and proc.stderr:
            proc.stderr.close()
        if not keep_files and self._dir:
            shutil.rmtree(self._dir, True)
