// A certificate read back into the request that would make it again: what "Use as Template"
// puts into the form, and what a renewal issues.
#pragma once

#include "core/CertRequest.h"
#include "core/Profiles.h"
#include "crypto/CertificateView.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

struct TCertificateTemplate {
  // Subject, alternative names, CA flag and path length, usages, name constraints and the
  // validity length; whatever the certificate does not carry is empty (no usages, no names).
  TCertRequest Request;
  // The profile whose settings the certificate has for its key type, or Custom.
  TProfile Profile = TProfile::Custom;
  // The key the certificate is for, as the form's key settings take it.
  TKeyType KeyType = ktECC;
  std::int32_t RSABits = 0;
  std::string ECCurve;      // "P-256", "P-384", "P-521"
  std::string EdAlgorithm;  // kEd25519 or kEd448
  // What of the certificate cannot be made again: subject fields, alternative names, usages
  // and extensions that no setting holds.
  std::vector<std::string> Log;
};

// The whole days from the certificate's start to its end, at least one.
std::int32_t ValidityDaysOf(const TCertificateView& Cert);

// The certificate as a request. Raises Exception when a value in it cannot be used (a subject
// that is not UTF-8, an extension that does not decode).
TCertificateTemplate TemplateOfCertificate(const TCertificateView& Cert);

// The certificate in the file at Path (PEM or DER), read as the store reads certificates, as
// a request; raises Exception naming the file when it holds no certificate.
TCertificateTemplate TemplateOfCertificateFile(const std::string& Path);

// The profile (not Custom) whose settings for KeyType are exactly the request's CA flag, path
// length (for a CA) and usages; Custom when none is.
TProfile MatchingProfile(const TCertRequest& Request, TKeyType KeyType);

}  // namespace velmora
