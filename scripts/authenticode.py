#!/usr/bin/env python3
"""Signs setup.exe with an Authenticode signature (osslsigncode) and verifies one.

  authenticode.py sign --cert FILE [--key FILE] [--timestamp URL] [--time SECONDS] IN OUT
  authenticode.py verify [--ca FILE] [--tsa-ca FILE] [--mkpayload TOOL] FILE

The password of the key or PKCS#12 file comes from the environment variable PASS,
so that it never shows in a process list. Verification checks the signature
itself here (the signed digest against the file's bytes, the signer's signature
over it with openssl), and the certificate chain with osslsigncode when a CA file
is given."""
import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile

DESCRIPTION = "Installation du traitement de texte Norvanta (Version Light)"

OID_SPC_INDIRECT_DATA = bytes.fromhex("2b060104018237020104")
OID_COUNTER_SIGNATURE = bytes.fromhex("2a864886f70d010906")
OID_RFC3161_TIMESTAMP = bytes.fromhex("2b060104018237030301")
OID_NESTED_SIGNATURE = bytes.fromhex("2b060104018237020401")
DIGESTS = {
    bytes.fromhex("2b0e03021a"): "sha1",
    bytes.fromhex("608648016503040201"): "sha256",
    bytes.fromhex("608648016503040202"): "sha384",
    bytes.fromhex("608648016503040203"): "sha512",
}


class Refused(Exception):
    pass


def fail(message):
    raise Refused(message)


# ---- PE layout: where the checksum, the certificate table entry and the table lie.
class PeLayout:
    def __init__(self, data):
        if len(data) < 0x40 or data[:2] != b"MZ":
            fail("not a Windows program (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
            fail("not a Windows program (no PE header)")
        opt = pe + 24
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic not in (0x10B, 0x20B):
            fail("unknown optional header")
        count_at = opt + (92 if magic == 0x10B else 108)
        self.checksum = opt + 64
        self.entry = count_at + 4 + 4 * 8  # data directory 4: the certificate table
        if struct.unpack_from("<I", data, count_at)[0] < 5 or self.entry + 8 > opt + optional_size:
            fail("the program has no certificate table entry")
        self.table, self.table_size = struct.unpack_from("<II", data, self.entry)
        self.size = len(data)


def authenticode_digest(data, layout, name):
    """The file's bytes as Authenticode hashes them: all but the checksum, the
    certificate table entry and the table itself."""
    end = layout.table if layout.table_size else len(data)
    h = hashlib.new(name)
    h.update(data[:layout.checksum])
    h.update(data[layout.checksum + 4:layout.entry])
    h.update(data[layout.entry + 8:end])
    return h.hexdigest().upper()


# ---- DER: just enough to read a PKCS#7 SignedData.
def der(data, at, end):
    """(tag, content start, content end) of the element at `at`."""
    if at + 2 > end:
        fail("the signature is damaged (truncated element)")
    tag, length = data[at], data[at + 1]
    at += 2
    if length & 0x80:
        n = length & 0x7F
        if n == 0 or n > 4 or at + n > end:
            fail("the signature is damaged (bad length)")
        length = int.from_bytes(data[at:at + n], "big")
        at += n
    if at + length > end:
        fail("the signature is damaged (element runs past its parent)")
    return tag, at, at + length


def children(data, start, end):
    at = start
    while at < end:
        tag, cs, ce = der(data, at, end)
        yield tag, cs, ce
        at = ce


def child(data, parent, tag, index=0):
    found = [c for c in children(data, parent[1], parent[2]) if c[0] == tag]
    if len(found) <= index:
        fail("the signature is damaged (no element 0x%02X where one belongs)" % tag)
    return found[index]


class SignedData:
    def __init__(self, blob):
        self.blob = blob
        top = der(blob, 0, len(blob))
        signed = child(blob, child(blob, top, 0xA0), 0x30)
        content = child(blob, signed, 0x30)
        oid = child(blob, content, 0x06)
        if blob[oid[1]:oid[2]] != OID_SPC_INDIRECT_DATA:
            fail("the signature does not sign a program (no SpcIndirectData content)")
        indirect = child(blob, child(blob, content, 0xA0), 0x30)
        # The signer's digest covers the content octets of SpcIndirectDataContent.
        self.indirect = blob[indirect[1]:indirect[2]]
        digest_info = child(blob, indirect, 0x30, 1)
        algorithm = child(blob, child(blob, digest_info, 0x30), 0x06)
        self.digest_name = DIGESTS.get(blob[algorithm[1]:algorithm[2]])
        if not self.digest_name:
            fail("the signature uses an unknown digest algorithm")
        value = child(blob, digest_info, 0x04)
        self.digest = blob[value[1]:value[2]].hex().upper()
        # SignedData holds two sets: the digest algorithms, then the signer infos.
        signer = child(blob, child(blob, signed, 0x31, 1), 0x30)
        self.unsigned_attributes = []
        for tag, cs, ce in children(blob, signer[1], signer[2]):
            if tag == 0xA1:
                for _, acs, ace in children(blob, cs, ce):
                    a_oid = child(blob, (0x30, acs, ace), 0x06)
                    self.unsigned_attributes.append(blob[a_oid[1]:a_oid[2]])


def read_signature(data, layout):
    if layout.table_size == 0:
        fail("the program is not signed (its certificate table is empty)")
    if layout.table + layout.table_size > len(data) or layout.table < layout.entry + 8:
        fail("the certificate table lies outside the file")
    if layout.table + layout.table_size != len(data):
        fail("%d bytes follow the certificate table; no signature covers them"
             % (len(data) - layout.table - layout.table_size))
    length, revision, kind = struct.unpack_from("<IHH", data, layout.table)
    if kind != 2 or length < 8 or length > layout.table_size:
        fail("the certificate table holds no PKCS#7 signature")
    blob = data[layout.table + 8:layout.table + length]
    top = der(blob, 0, len(blob))
    return SignedData(blob[:top[2]])


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


# ---- sign
def is_pkcs12(path):
    if path.lower().endswith((".p12", ".pfx")):
        return True
    with open(path, "rb") as f:
        return b"-----BEGIN" not in f.read(4096)


def sign(a):
    for what, path in (("certificate (CERT=)", a.cert), ("key (KEY=)", a.key)):
        if path and not os.path.isfile(path):
            fail("the %s %s does not exist" % (what, path))
    if not a.cert:
        fail("no certificate: give CERT=<cert.pem> KEY=<key.pem>, or CERT=<bundle.p12> with PASS=")
    if not os.path.isfile(a.input):
        fail("%s does not exist: build it first (make, with your PAYLOAD= LOGO= ICON= COPYRIGHT=)" % a.input)
    cmd = ["osslsigncode", "sign", "-h", "sha256", "-n", DESCRIPTION]
    if is_pkcs12(a.cert):
        if a.key:
            fail("a PKCS#12 file carries its own key: give CERT= alone, with PASS=")
        cmd += ["-pkcs12", a.cert]
    else:
        if not a.key:
            fail("a PEM certificate needs its private key: KEY=<key.pem>")
        cmd += ["-certs", a.cert, "-key", a.key]
    if a.timestamp:
        cmd += ["-ts", a.timestamp]
    elif a.time:
        # Without a time stamp the signing time is only the signer's word, which
        # Windows does not use; the commit's time makes the same input sign to
        # the same bytes.
        cmd += ["-time", a.time]
    out_dir = os.path.dirname(os.path.abspath(a.output))
    os.makedirs(out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=out_dir) as tmp:
        if os.environ.get("PASS"):
            secret = os.path.join(tmp, "pass")
            with open(os.open(secret, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
                f.write(os.environ["PASS"])
            cmd += ["-readpass", secret]
        partial = os.path.join(tmp, "signed.exe")
        r = run(cmd + ["-in", a.input, "-out", partial])
        if r.returncode != 0 or not os.path.isfile(partial):
            sys.stderr.write(r.stdout)
            fail("osslsigncode could not sign %s" % a.input)
        os.replace(partial, a.output)
    print("%s: signed copy of %s" % (a.output, a.input))
    print("  SHA-256  %s" % sha256_of(a.output))
    print("  time stamp  " + (a.timestamp if a.timestamp else "none (make sign TIMESTAMP=<url> adds one)"))


# ---- verify
def describe_certificate(pem):
    r = run(["openssl", "x509", "-noout", "-subject", "-issuer", "-enddate", "-fingerprint", "-sha256",
             "-nameopt", "RFC2253"], input=pem)
    fields = {}
    for line in r.stdout.splitlines():
        key, _, value = line.partition("=")
        fields[key.strip().lower()] = value.strip()
    return fields


def verify(a):
    with open(a.file, "rb") as f:
        data = f.read()
    print(a.file)
    print("  SHA-256      %s" % hashlib.sha256(data).hexdigest())
    layout = PeLayout(data)
    signature = read_signature(data, layout)

    # 1. The signed digest is the digest of the file as it is.
    digest = authenticode_digest(data, layout, signature.digest_name)
    if digest != signature.digest:
        fail("the file was changed after signing: its %s digest is %s, the signed one %s"
             % (signature.digest_name.upper(), digest, signature.digest))

    # 2. The signer's key signed that digest.
    with tempfile.TemporaryDirectory() as tmp:
        p7, content, signer = (os.path.join(tmp, n) for n in ("sig.p7", "content.der", "signer.pem"))
        with open(p7, "wb") as f:
            f.write(signature.blob)
        with open(content, "wb") as f:
            f.write(signature.indirect)
        r = run(["openssl", "smime", "-verify", "-noverify", "-binary", "-inform", "DER", "-in", p7,
                 "-content", content, "-signer", signer, "-out", os.devnull])
        if r.returncode != 0:
            fail("the signature does not match its certificate's key (openssl: %s)"
                 % (r.stdout.strip().splitlines() or ["no reason given"])[0])
        with open(signer) as f:
            cert = describe_certificate(f.read())
    print("  signature    valid, Authenticode %s" % signature.digest_name.upper())
    print("  signer       %s" % cert.get("subject", "?"))
    print("  issued by    %s" % cert.get("issuer", "?"))
    print("  certificate  valid until %s; SHA-256 fingerprint %s"
          % (cert.get("notafter", "?"), cert.get("sha256 fingerprint", "?")))

    stamped = any(o in (OID_COUNTER_SIGNATURE, OID_RFC3161_TIMESTAMP) for o in signature.unsigned_attributes)
    nested = OID_NESTED_SIGNATURE in signature.unsigned_attributes

    # 3. The chain (and the time stamp's), when the caller says whom to trust.
    if a.ca:
        cmd = ["osslsigncode", "verify", "-CAfile", a.ca]
        if a.tsa_ca:
            cmd += ["-TSA-CAfile", a.tsa_ca]
        r = run(cmd + ["-in", a.file])
        if r.returncode != 0:
            reasons = [l.strip() for l in r.stdout.splitlines() if re.search(r"error|fail|mismatch", l, re.I)]
            fail("the certificate chain does not verify against %s (osslsigncode: %s)"
                 % (a.ca, "; ".join(reasons[:3]) or "failed"))
        print("  chain        verified against %s" % a.ca)
        if stamped:
            # osslsigncode falls back to the present time when the time stamp fails.
            if "Timestamp Server Signature verification: ok" not in r.stdout:
                fail("the time stamp does not verify against %s" % (a.tsa_ca or "the system's certificates"))
            when = re.search(r"(?:Timestamp time|The signature is timestamped):\s*(.+)", r.stdout)
            print("  time stamp   %s, verified against %s"
                  % (when.group(1).strip() if when else "present", a.tsa_ca or "the system's certificates"))
    else:
        print("  chain        not checked: give CA=<file> with the certificates you trust")
        if stamped:
            print("  time stamp   present, not checked (CA= checks it, against TSA_CA= or the system's)")
    if not stamped:
        print("  time stamp   none: the signature counts only while the certificate is valid")
    if nested:
        print("  note         further (nested) signatures are present and were not checked")

    # 4. What the signature covers, and the payload inside it.
    print("  covers       every byte but the PE checksum (4 at 0x%X), the certificate table entry "
          "(8 at 0x%X) and the table itself (%d at 0x%X); %s digest %s"
          % (layout.checksum, layout.entry, layout.table_size, layout.table, signature.digest_name.upper(),
             digest))
    if a.mkpayload:
        r = run([a.mkpayload, "locate", a.file])
        if r.returncode == 0:
            offset, length = (int(x) for x in r.stdout.split())
            if offset + length > layout.table:
                fail("the payload resource reaches into the certificate table")
            print("  payload      FILES resource, %d bytes at 0x%X: inside the signed bytes" % (length, offset))
        else:
            print("  payload      none (no FILES resource: not a setup.exe built here)")
    print("verify: ok")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", required=True)
    s = sub.add_parser("sign")
    s.add_argument("--cert", default="")
    s.add_argument("--key", default="")
    s.add_argument("--timestamp", default="")
    s.add_argument("--time", default="")
    s.add_argument("input")
    s.add_argument("output")
    v = sub.add_parser("verify")
    v.add_argument("--ca", default="")
    v.add_argument("--tsa-ca", default="")
    v.add_argument("--mkpayload", default="")
    v.add_argument("file")
    a = p.parse_args()
    try:
        if a.command == "sign":
            sign(a)
        else:
            if not a.file or not os.path.isfile(a.file):
                fail("no file to verify: give FILE=<program.exe>")
            if a.ca and not os.path.isfile(a.ca):
                fail("the CA file %s does not exist" % a.ca)
            verify(a)
    except Refused as e:
        print("%s: FAILED: %s" % (a.command, e))
        return 1
    except OSError as e:
        print("%s: FAILED: %s" % (a.command, e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
