#include "tests/support/SignerFixtures.h"

namespace velmora::test {

TExtensionLines SoundCAExtensions() {
  return {{NID_basic_constraints, "critical,CA:TRUE"},
          {NID_key_usage, "critical,keyCertSign,cRLSign"},
          {NID_subject_key_identifier, "hash"}};
}

X509Ptr MakeSelfSignedWith(EVP_PKEY* Key, const TExtensionLines& Extensions, const EVP_MD* Digest,
                           const std::string& CommonName) {
  static long serial = 1000;
  X509Ptr cert(X509_new());
  if (!cert) RaiseOpenSSLError("X509_new");
  X509_NAME* subject = X509_get_subject_name(cert.get());
  if (X509_set_version(cert.get(), X509_VERSION_3) != 1 ||
      ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial) != 1 ||
      X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(CommonName.c_str()), -1, -1,
                                 0) != 1 ||
      X509_set_issuer_name(cert.get(), subject) != 1 ||
      !X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 60 * 60) ||
      X509_set_pubkey(cert.get(), Key) != 1)
    RaiseOpenSSLError("certificate body");
  for (const auto& [nid, value] : Extensions) {
    X509V3_CTX context{};
    X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
    X509_EXTENSIONPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    if (!extension || X509_add_ext(cert.get(), extension.get(), -1) != 1)
      RaiseOpenSSLError("extension " + value);
  }
  if (X509_sign(cert.get(), Key, Digest ? Digest : EVP_sha256()) <= 0)
    RaiseOpenSSLError("X509_sign");
  return cert;
}

}  // namespace velmora::test
