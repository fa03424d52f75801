// Helpers shared by the builder's tests: catching a message, a scratch directory, looking
// inside a certificate, and a CA made on the spot.
#pragma once

#include "crypto/CertBuilder.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {

// The message of the Exception that Operation raises, or "(no failure)".
template <typename TOperation>
std::string MessageOf(TOperation&& Operation) {
  try {
    Operation();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The shared scratch directory, with the two ways the builder's tests name what is in it.
class TTempDir : public TempDir {
 public:
  std::string operator/(const std::string& name) const { return File(name); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline X509Ptr CertFromPEM(const std::string& pem) {
  BIOPtr bio = NewMemBuf(pem);
  return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, PassphraseCallback, nullptr));
}

inline EVP_PKEYPtr KeyFromPEM(const std::string& pem, const char* password) {
  BIOPtr bio = NewMemBuf(pem);
  return EVP_PKEYPtr(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, PassphraseCallback, const_cast<char*>(password)));
}

// A builder with a common name, the least a certificate must name; everything else as a
// new builder has it.
class TNamedBuilder : public TCertBuilder {
 public:
  TNamedBuilder() { Subject.CN = "builder.test"; }
};

// One extension as libcrypto itself prints it.
struct TExtension {
  int nid;
  bool critical;
  std::string text;
};

inline std::vector<TExtension> ExtensionsOf(const X509* cert) {
  std::vector<TExtension> result;
  for (int i = 0; i < X509_get_ext_count(cert); ++i) {
    X509_EXTENSION* ext = X509_get_ext(cert, i);
    BIOPtr bio(BIO_new(BIO_s_mem()));
    X509V3_EXT_print(bio.get(), ext, 0, 0);
    result.push_back({OBJ_obj2nid(X509_EXTENSION_get_object(ext)),
                      X509_EXTENSION_get_critical(ext) == 1, BioToString(bio.get())});
  }
  return result;
}

inline std::vector<int> ExtensionNIDsOf(const X509* cert) {
  std::vector<int> nids;
  for (const TExtension& ext : ExtensionsOf(cert)) nids.push_back(ext.nid);
  return nids;
}

// The text of the one extension with this NID, or "(absent)".
inline std::string ExtensionText(const X509* cert, int nid) {
  for (const TExtension& ext : ExtensionsOf(cert))
    if (ext.nid == nid) return ext.text;
  return "(absent)";
}

// A self-signed P-256 CA as the window would hand it over: certificate and key as PEM text.
struct TTestCA {
  std::string certPEM;
  std::string keyPEM;
  std::string encryptedKeyPEM;  // the same key under CAKeyPasswordFor
};

inline const char* const CAKeyPasswordFor = "ca-pass";

inline TTestCA MakeCA(const std::string& commonName) {
  TCertBuilder ca;
  ca.Subject.CN = commonName;
  ca.Subject.O = "Velmora Tests";
  ca.IsCA = true;
  ca.PathLenConstraint = -1;
  ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
  ca.ExtKeyUsage = {};
  ca.ValidDays = 30;
  ca.GenerateKey();
  ca.BuildSelfSigned();
  return {ca.CertToPEM(), ca.KeyToPEM(""), ca.KeyToPEM(CAKeyPasswordFor)};
}

// Two CAs, made once for the whole test program.
inline const TTestCA& FirstCA() {
  static const TTestCA ca = MakeCA("Velmora Test CA One");
  return ca;
}
inline const TTestCA& SecondCA() {
  static const TTestCA ca = MakeCA("Velmora Test CA Two");
  return ca;
}

inline std::string SubjectOneLine(const X509_NAME* name) {
  BIOPtr bio(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  return BioToString(bio.get());
}

}  // namespace velmora::test
