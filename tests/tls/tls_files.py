"""Test certificates made with the openssl command line, and freetds.conf
files whose sections name the TLS settings the tests use."""
import os
import subprocess


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=60)


def make(work):
    """A test CA, a server certificate it signed for `localhost`, and a
    second CA that signed nothing tdslite uses. Answers the file names."""
    d = os.path.join(work, "certs")
    os.makedirs(d, exist_ok=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    _openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
             "-subj", "/CN=tdslite test CA", cwd=d)
    _openssl("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost",
             cwd=d)
    with open(os.path.join(d, "server.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost\n")
    _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext",
             cwd=d)
    _openssl("req", "-x509", *ec, "-keyout", "other.key", "-out", "other.pem", "-days", "2",
             "-subj", "/CN=another CA", cwd=d)
    return {name: os.path.join(d, file) for name, file in [
        ("ca", "ca.pem"), ("cert", "server.pem"), ("key", "server.key"),
        ("other_ca", "other.pem"), ("other_key", "other.key")]}


def freetds_conf(work, name, port, ca=None, other_ca=None):
    """Writes a freetds.conf with the sections
      require      tds version 7.4, encryption = require
      plain74      tds version 7.4 (FreeTDS's default encryption: request)
      off          tds version 7.4, encryption = off
      default      no version, no encryption line
      require70    tds version 7.0, encryption = require (cannot be met)
      v72          tds version 7.2
    and, given CA files, `verified` (localhost, ca, hostname checked),
    `verified_ip` (the same by address: the name does not match) and
    `other_ca` (a CA that did not sign the certificate)."""
    sections = {
        "require": ["host = 127.0.0.1", "tds version = 7.4", "encryption = require"],
        "plain74": ["host = 127.0.0.1", "tds version = 7.4"],
        "off": ["host = 127.0.0.1", "tds version = 7.4", "encryption = off"],
        "default": ["host = 127.0.0.1"],
        "require70": ["host = 127.0.0.1", "tds version = 7.0", "encryption = require"],
        "v72": ["host = 127.0.0.1", "tds version = 7.2"],
    }
    checked = ["tds version = 7.4", "encryption = require", "check certificate hostname = yes"]
    if ca:
        sections["verified"] = ["host = localhost", "ca file = " + ca] + checked
        sections["verified_ip"] = ["host = 127.0.0.1", "ca file = " + ca] + checked
    if other_ca:
        sections["other_ca"] = ["host = localhost", "ca file = " + other_ca] + checked
    path = os.path.join(work, name)
    with open(path, "w") as f:
        for section, lines in sections.items():
            f.write("[%s]\n" % section)
            for line in lines + ["port = %d" % port]:
                f.write("  %s\n" % line)
    return path
