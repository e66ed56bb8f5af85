"""Test certificates for https update servers, made by openssl at test time.

One folder per test run (in E2E_STATE_DIR) holds a test certificate authority that
`trust()` adds to the Wine prefix's machine Root store (never the host's), a second one that
nobody trusts, and server certificates for "localhost" signed by them: valid, for another
name, and expired. Nothing here is committed; keys live only as long as the run's state.
"""
import os
import ssl
import subprocess
from typing import Dict

OPENSSL = os.environ.get("OPENSSL", "openssl")

CA_CONFIG = """[ca]
default_ca = test
[test]
dir = {dir}
database = {dir}/index-{ca}.txt
new_certs_dir = {dir}
serial = {dir}/serial-{ca}
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
[localhost]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
[other]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.example
"""

# name -> (signing authority, extension section, subject, validity)
SERVER_CERTS = {
    "trusted": ("ca", "localhost", "/CN=localhost", ["-days", "3"]),
    "untrusted": ("stranger", "localhost", "/CN=localhost", ["-days", "3"]),
    "other-name": ("ca", "other", "/CN=other.example", ["-days", "3"]),
    "expired": ("ca", "localhost", "/CN=localhost", ["-startdate", "20200101000000Z", "-enddate", "20200102000000Z"]),
}


def _openssl(*args, cwd):
    r = subprocess.run([OPENSSL, *args], cwd=cwd, capture_output=True)
    if r.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(args)} failed: {r.stderr.decode(errors='replace')}")


def make_certificates(folder: str) -> Dict[str, str]:
    """The certificates in `folder` (made on first use): name -> PEM file holding the
    server's certificate and key; "ca.der" -> the trusted authority's DER certificate."""
    done = os.path.join(folder, "ready")
    files = {name: os.path.join(folder, f"{name}.pem") for name in SERVER_CERTS}
    files["ca.der"] = os.path.join(folder, "ca.der")
    if os.path.exists(done):
        return files
    os.makedirs(folder, exist_ok=True)
    for ca in ("ca", "stranger"):
        with open(os.path.join(folder, f"{ca}.cnf"), "w") as f:
            f.write(CA_CONFIG.format(dir=folder, ca=ca))
        open(os.path.join(folder, f"index-{ca}.txt"), "w").close()
        with open(os.path.join(folder, f"serial-{ca}"), "w") as f:
            f.write("1000\n")
        _openssl("req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{ca}.key", "-out",
                 f"{ca}.pem", "-days", "3", "-subj", f"/CN=starter e2e {ca} authority",
                 "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                 cwd=folder)
    _openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=folder)
    _openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", "server.key", cwd=folder)
    for name, (ca, section, subject, validity) in SERVER_CERTS.items():
        _openssl("req", "-new", "-key", "server.key", "-subj", subject, "-out", f"{name}.csr", cwd=folder)
        _openssl("ca", "-batch", "-notext", "-config", f"{ca}.cnf", "-cert", f"{ca}.pem", "-keyfile", f"{ca}.key",
                 "-extensions", section, "-in", f"{name}.csr", "-out", f"{name}.crt", *validity, cwd=folder)
        with open(files[name], "wb") as out:
            for part in (f"{name}.crt", "server.key"):
                with open(os.path.join(folder, part), "rb") as f:
                    out.write(f.read())
    open(done, "w").close()
    return files


def server_context(pem: str) -> ssl.SSLContext:
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(pem)
    return ctx


def trust(wine, ca_der: str):
    """Adds the authority to the prefix's machine Root store (tools/addroot.cpp)."""
    result = wine.run(os.environ["ADDROOT_EXE"], [wine.windows_path(ca_der)], timeout=60)
    if result.exit_code != 0:
        raise RuntimeError(f"addroot failed: {result}")
