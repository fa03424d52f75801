#!/usr/bin/python3
"""The work of bench_crypto's SelfSigned/P-256 row (or, given "Ed25519", of its SelfSigned/Ed25519
row) done with Python's cryptography package.

A worker for bench_crypto: it says "ready" once the package is imported (or why it cannot be),
then for every line it reads makes one key and self-signed certificate, both as PEM text, and
answers with the nanoseconds that took. It times itself, so neither the pipe nor
the interpreter's start is part of the number; bench_crypto does the repetitions.
"""
import datetime
import sys
import time

try:
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec, ed25519
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID
except ImportError as error:
    print(f"{sys.executable} cannot import cryptography ({error})", flush=True)
    sys.exit(0)


def self_signed(edwards):
    """Key, certificate as our builder makes it, certificate PEM and unencrypted PKCS#8 key PEM.

    Names and extensions are made afresh each time, as the builder makes them. An Ed25519 key
    signs with no digest."""
    if edwards:
        key = ed25519.Ed25519PrivateKey.generate()
    else:
        key = ec.generate_private_key(ec.SECP256R1())
    public_key = key.public_key()
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "bench.example")])
    key_usage = x509.KeyUsage(
        digital_signature=True, content_commitment=False, key_encipherment=True,
        data_encipherment=False, key_agreement=False, key_cert_sign=False, crl_sign=False,
        encipher_only=False, decipher_only=False)
    extended_key_usage = x509.ExtendedKeyUsage(
        [ExtendedKeyUsageOID.SERVER_AUTH, ExtendedKeyUsageOID.CLIENT_AUTH])
    alt_names = x509.SubjectAlternativeName(
        [x509.DNSName("bench.example"), x509.DNSName("www.bench.example")])
    now = datetime.datetime.now(datetime.timezone.utc)
    cert = (
        x509.CertificateBuilder()
        .subject_name(name)
        .issuer_name(name)
        .public_key(public_key)
        .serial_number(x509.random_serial_number())
        .not_valid_before(now)
        .not_valid_after(now + datetime.timedelta(days=365))
        .add_extension(x509.SubjectKeyIdentifier.from_public_key(public_key), critical=False)
        .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=False)
        .add_extension(key_usage, critical=True)
        .add_extension(extended_key_usage, critical=False)
        .add_extension(alt_names, critical=False)
        .sign(key, None if edwards else hashes.SHA256())
    )
    return cert.public_bytes(serialization.Encoding.PEM) + key.private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
        serialization.NoEncryption())


def main():
    edwards = sys.argv[1:] == ["Ed25519"]
    self_signed(edwards)  # the first one loads the package's lazily imported parts
    print("ready", flush=True)
    for _ in sys.stdin:
        start = time.perf_counter_ns()
        self_signed(edwards)
        print(time.perf_counter_ns() - start, flush=True)


main()
