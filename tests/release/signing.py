#!/usr/bin/env python3
"""make sign and make verify on the built setup.exe, with a throw-away certificate
authority made here: what signing adds, what verification checks, and that a
changed payload byte is caught. Leaves a signed copy and a tampered one for the
end-to-end tests that run them under Wine (signed/setup.exe, tampered/setup.exe).

  signing.py ROOT BUILD SCRATCH XML"""
import hashlib
import http.server
import os
import re
import shutil
import struct
import sys
import threading

sys.dont_write_bytecode = True  # nothing is written into the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from cases import Suite, check, run  # noqa: E402
import authenticode  # noqa: E402

root, build, scratch, xml, host_tools = sys.argv[1:6]
unsigned = os.path.join(build, "setup.exe")
mkpayload = os.path.join(host_tools, "mkpayload")
shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)
pki = os.path.join(scratch, "pki")
os.makedirs(pki)
signed = os.path.join(scratch, "signed", "setup.exe")
tampered = os.path.join(scratch, "tampered", "setup.exe")
PASSWORD = "throw-away pass phrase"
tsa_config = os.path.join(pki, "tsa.cnf")

# A nested make must not join the jobs of the make that runs the tests.
env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL", "PASS")}


def make(*args, password=None):
    e = dict(env, PASS=password) if password else env
    # The build under test: the product, or the 64-bit build where no 32-bit code runs.
    return run(["make", "--no-print-directory", "-C", root, "UNSIGNED=" + unsigned] + list(args), env=e)


def ssl(*args):
    r = run(["openssl"] + list(args))
    check(r.returncode == 0, r.shown)


def authority(name):
    key, cert = os.path.join(pki, name + ".key"), os.path.join(pki, name + ".pem")
    ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
        "-subj", "/CN=%s (throw-away test CA)" % name, "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, cert


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write_flipped(source, target, offset):
    data = bytearray(read(source))
    data[offset] ^= 0x01
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as f:
        f.write(data)


# The certificates: a CA, a code-signing certificate it issued (PEM and PKCS#12
# with a pass phrase), and a second CA that issued nothing.
ca_key, ca = authority("Norvanta Release Test")
_, stranger = authority("Stranger")
key, csr, cert = (os.path.join(pki, n) for n in ("signer.key", "signer.csr", "signer.pem"))
ssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
    "-subj", "/CN=Norvanta Test Signer/O=The Norvanta Word Processor Team")
ext = os.path.join(pki, "signer.ext")
with open(ext, "w") as f:
    f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
ssl("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-out", cert, "-days", "2",
    "-extfile", ext)
bundle = os.path.join(pki, "signer.p12")
ssl("pkcs12", "-export", "-inkey", key, "-in", cert, "-out", bundle, "-passout", "pass:" + PASSWORD)

suite = Suite("Signing", xml)
before = hashlib.sha256(read(unsigned)).hexdigest()


@suite.case
def SignAppendsOnlyTheCertificateTable():
    r = make("sign", "CERT=" + cert, "KEY=" + key, "SIGNED=" + signed)
    check(r.returncode == 0, r.shown)
    check(hashlib.sha256(read(unsigned)).hexdigest() == before, "make sign changed build/setup.exe")
    plain, data = read(unsigned), read(signed)
    check(hashlib.sha256(data).hexdigest() in r.stdout, "make sign does not print the signed file's SHA-256\n"
          + r.shown)
    layout = authenticode.PeLayout(data)
    # Every byte of the program stays where it was but the checksum and the table's
    # entry: its sections, and so its resources, are untouched.
    check(layout.table == (len(plain) + 7) // 8 * 8, "the certificate table does not follow the program")
    check(layout.table + layout.table_size == len(data), "the certificate table does not end the file")
    changed = [i for i in range(len(plain)) if plain[i] != data[i]]
    allowed = set(range(layout.checksum, layout.checksum + 4)) | set(range(layout.entry, layout.entry + 8))
    check(changed and set(changed) <= allowed, "signing changed bytes of the program: %s" % changed[:16])
    check(struct.unpack_from("<I", data, layout.checksum)[0] != 0, "the signed file has no PE checksum")
    # What the README tells a second person: removing the signature gives back the
    # program they built.
    stripped = os.path.join(scratch, "stripped.exe")
    r = run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped])
    check(r.returncode == 0 and read(stripped) == plain, "removing the signature does not give back setup.exe\n"
          + r.shown)


@suite.case
def VerifyShowsTheHashTheSignerAndWhatIsCovered():
    data = read(signed)
    r = make("verify", "FILE=" + signed, "CA=" + ca)
    check(r.returncode == 0 and r.stdout.rstrip().endswith("verify: ok"), r.shown)
    out = r.stdout
    check(hashlib.sha256(data).hexdigest() in out, "no SHA-256 of the file\n" + out)
    check("CN=Norvanta Test Signer" in out and "Norvanta Release Test (throw-away test CA)" in out,
          "no signer or issuer\n" + out)
    check("chain        verified against " + ca in out, "the chain is not reported checked\n" + out)
    check("time stamp   none" in out, "a time stamp is reported where none was asked for\n" + out)
    # The digest shown is the one osslsigncode computes from the file.
    o = run(["osslsigncode", "verify", "-CAfile", ca, "-in", signed])
    check(o.returncode == 0, o.shown)
    calculated = [l.split(":")[1].strip() for l in o.stdout.splitlines() if "Calculated message digest" in l]
    check(calculated and ("SHA256 digest " + calculated[0]) in out,
          "the digest differs from osslsigncode's\n" + out + o.shown)
    # The payload lies inside the signed bytes, where mkpayload finds it.
    offset, length = (int(x) for x in run([mkpayload, "locate", signed]).stdout.split())
    check(data[offset:offset + 2] == b"\x78\xda", "the located payload is no zlib stream")
    check("FILES resource, %d bytes at 0x%X: inside the signed bytes" % (length, offset) in out,
          "the payload is not shown covered\n" + out)
    # Without CA= the signature is still checked, the chain is not.
    r = make("verify", "FILE=" + signed)
    check(r.returncode == 0 and "chain        not checked" in r.stdout, r.shown)


@suite.case
def TheSameBytesAndKeySignToTheSameFile():
    again = os.path.join(scratch, "again", "setup.exe")
    r = make("sign", "CERT=" + bundle, "SIGNED=" + again, password=PASSWORD)
    check(r.returncode == 0, r.shown)
    check(read(again) == read(signed), "the PKCS#12 signature of the same bytes and key differs from the PEM one")
    r = make("sign", "CERT=" + bundle, "SIGNED=" + again + ".wrong", password="not it")
    check(r.returncode != 0 and not os.path.exists(again + ".wrong"), "a wrong pass phrase signed\n" + r.shown)
    r = make("sign", "CERT=" + cert, "SIGNED=" + again + ".nokey")
    check(r.returncode != 0 and "KEY=" in r.stdout, "a certificate without its key was accepted\n" + r.shown)


@suite.case
def VerifyRefusesTheUnsignedAStrangerCAAndAForgedSignature():
    r = make("verify", "FILE=" + unsigned)
    check(r.returncode != 0 and "not signed" in r.stdout, r.shown)
    check(before in r.stdout, "the unsigned file's SHA-256 is not shown\n" + r.shown)
    r = make("verify", "FILE=" + signed, "CA=" + stranger)
    check(r.returncode != 0 and "chain does not verify" in r.stdout, r.shown)
    # The last byte of the PKCS#7 blob belongs to the signer's signature value.
    data = read(signed)
    layout = authenticode.PeLayout(data)
    blob = authenticode.read_signature(data, layout).blob
    forged = os.path.join(scratch, "forged", "setup.exe")
    write_flipped(signed, forged, layout.table + 8 + len(blob) - 1)
    r = make("verify", "FILE=" + forged)
    check(r.returncode != 0 and "does not match its certificate's key" in r.stdout, r.shown)


@suite.case
def AChangedPayloadByteFailsVerification():
    offset, length = (int(x) for x in run([mkpayload, "locate", signed]).stdout.split())
    check(length > 1000, "the payload is too small to change inside")
    write_flipped(signed, tampered, offset + length // 2)
    r = make("verify", "FILE=" + tampered, "CA=" + ca)
    check(r.returncode != 0 and "changed after signing" in r.stdout, r.shown)
    o = run(["osslsigncode", "verify", "-CAfile", ca, "-in", tampered])
    check(o.returncode != 0, "osslsigncode accepts the tampered file\n" + o.shown)


class TimeStampAuthority(http.server.BaseHTTPRequestHandler):
    """RFC 3161 over HTTP on the loopback address, answered by openssl ts."""

    def do_POST(self):
        query, reply = os.path.join(pki, "ts.query"), os.path.join(pki, "ts.reply")
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(self.headers.get("Content-Length", "0"))))
        r = run(["openssl", "ts", "-reply", "-config", tsa_config, "-queryfile", query, "-out", reply])
        body = read(reply) if r.returncode == 0 else b""
        self.send_response(200 if body else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@suite.case
def ATimeStampIsAddedAndVerified():
    tsa_key, tsa_csr, tsa_cert = (os.path.join(pki, n) for n in ("tsa.key", "tsa.csr", "tsa.pem"))
    ssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", tsa_key, "-out", tsa_csr, "-subj", "/CN=Test TSA")
    with open(ext, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=critical,timeStamping\n")
    ssl("x509", "-req", "-in", tsa_csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-out", tsa_cert,
        "-days", "2", "-extfile", ext)
    with open(tsa_config, "w") as f:
        f.write("[tsa]\ndefault_tsa = test\n[test]\nserial = %s\nsigner_cert = %s\nsigner_key = %s\n"
                "certs = %s\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256, sha384, sha512\n"
                "ess_cert_id_alg = sha256\n" % (os.path.join(pki, "tsa.serial"), tsa_cert, tsa_key, tsa_cert))
    with open(os.path.join(pki, "tsa.serial"), "w") as f:
        f.write("01\n")
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampAuthority)
    server.timeout = 30
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        stamped = os.path.join(scratch, "stamped", "setup.exe")
        url = "http://127.0.0.1:%d/" % server.server_address[1]
        r = make("sign", "CERT=" + cert, "KEY=" + key, "SIGNED=" + stamped, "TIMESTAMP=" + url)
    finally:
        server.shutdown()
        server.server_close()
    check(r.returncode == 0, r.shown)
    r = make("verify", "FILE=" + stamped, "CA=" + ca, "TSA_CA=" + ca)
    check(r.returncode == 0 and re.search(r"time stamp   .*20\d\d GMT, verified against", r.stdout), r.shown)
    r = make("verify", "FILE=" + stamped, "CA=" + ca, "TSA_CA=" + stranger)
    check(r.returncode != 0 and "time stamp does not verify" in r.stdout, r.shown)
    # The time stamp counter-signs the signature; the signed program bytes are the same.
    plain = read(signed)
    stamped_data = read(stamped)
    layout = authenticode.PeLayout(stamped_data)
    check(stamped_data[layout.entry + 8:layout.table] == plain[layout.entry + 8:layout.table],
          "the time-stamped file's program bytes differ from the unstamped one's")
    r = make("verify", "FILE=" + stamped, "CA=" + stranger, "TSA_CA=" + ca)
    check(r.returncode != 0, "a stranger CA verifies the time-stamped file\n" + r.shown)


suite.finish()
