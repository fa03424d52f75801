// Certificate requests made by other tools (the openssl command line and Python's
// cryptography), for the tests that sign them: RSA and EC, with and without alternative names,
// and one asking for a CA.
#pragma once

#include <string>
#include <vector>

namespace velmora::test {

struct TForeignRequest {
  const char* Name;
  std::string Command;  // makes request.csr (and request.key) in the folder given as $D
  bool AsksForCA;
  std::string Host;  // a DNS name the issued certificate must carry
  bool Python;       // made by Python's cryptography: its names include an IP address
};

inline std::vector<TForeignRequest> ForeignRequests() {
  const std::string python =
      "python3 -c \"\n"
      "from cryptography import x509\n"
      "from cryptography.x509.oid import NameOID\n"
      "from cryptography.hazmat.primitives import hashes, serialization\n"
      "from cryptography.hazmat.primitives.asymmetric import ec\n"
      "import ipaddress, sys\n"
      "key = ec.generate_private_key(ec.SECP256R1())\n"
      "csr = (x509.CertificateSigningRequestBuilder()\n"
      "  .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, 'py.example')]))\n"
      "  .add_extension(x509.SubjectAlternativeName([x509.DNSName('py.example'),\n"
      "     x509.IPAddress(ipaddress.ip_address('192.0.2.44'))]), critical=False)\n"
      "  .sign(key, hashes.SHA256()))\n"
      "open(sys.argv[1] + '/request.csr', "
      "'wb').write(csr.public_bytes(serialization.Encoding.PEM))\n"
      "\" \"$D\"";
  const std::string openssl =
      "openssl req -new -nodes -keyout \"$D/request.key\" -out \"$D/request.csr\" ";
  return {
      {"openssl RSA with names",
       openssl + "-newkey rsa:2048 -subj /CN=rsa.example -addext subjectAltName=DNS:rsa.example",
       false, "rsa.example", false},
      {"openssl RSA without names", openssl + "-newkey rsa:2048 -subj /CN=bare.example", false,
       "bare.example", false},
      {"openssl EC with names",
       openssl + "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -subj /CN=ec.example "
                 "-addext subjectAltName=DNS:ec.example,DNS:www.ec.example",
       false, "www.ec.example", false},
      {"openssl EC asking for a CA",
       openssl + "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -subj /CN=ca.example "
                 "-addext basicConstraints=critical,CA:TRUE",
       true, "ca.example", false},
      {"python EC with names", python, false, "py.example", true},
  };
}

}  // namespace velmora::test
