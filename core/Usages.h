// Every key usage and extended key usage a certificate can be given, once: the member of the
// builder's set, the name X.509 gives it (what --ku and --eku take), and the caption and tip of
// its item in the window's check lists. The window's lists hold the items in this order.
#pragma once

#include "crypto/CertBuilder.h"

#include <array>
#include <optional>
#include <string_view>

namespace velmora {

template <typename TMember>
struct TUsageInfo {
  TMember Member;
  std::string_view Name;     // as X.509 names it: "digitalSignature", "serverAuth"
  std::string_view Caption;  // the window's check-list item
  std::string_view Tip;      // what the usage allows and when a certificate needs it
};

inline constexpr std::array<TUsageInfo<TKeyUsage>, 9> kKeyUsages{{
    {kuDigitalSignature, "digitalSignature", "Digital Signature",
     "The key signs data other than certificates and revocation lists: TLS handshakes, "
     "documents, e-mail. Tick it for almost every server, client and personal certificate."},
    {kuContentCommitment, "contentCommitment", "Content Commitment",
     "Signatures made with the key bind the signer to the signed content (formerly "
     "non-repudiation). Tick it for document-signing certificates; TLS does not need it."},
    {kuKeyEncipherment, "keyEncipherment", "Key Encipherment",
     "The key encrypts other keys, as in RSA key exchange and S/MIME. Tick it for RSA servers "
     "and e-mail certificates; an EC key cannot encipher, so leave it unticked for one."},
    {kuDataEncipherment, "dataEncipherment", "Data Encipherment",
     "The key encrypts user data directly rather than a session key. Tick it only when an "
     "application asks for it, and never for an EC key; it is rarely needed."},
    {kuKeyAgreement, "keyAgreement", "Key Agreement",
     "The key agrees a shared secret with the other side (Diffie-Hellman, ECDH). Tick it for "
     "EC keys used for static key agreement or e-mail encryption."},
    {kuKeyCertSign, "keyCertSign", "Key Cert Sign",
     "The key signs certificates. Tick it for a CA certificate, together with \"This is a CA "
     "certificate\"; never for a server, client or person."},
    {kuCRLSign, "cRLSign", "CRL Sign",
     "The key signs certificate revocation lists. Tick it for a CA, usually together with Key "
     "Cert Sign."},
    {kuEncipherOnly, "encipherOnly", "Encipher Only",
     "With Key Agreement only: the agreed key may only encrypt. Tick it only together with Key "
     "Agreement, and only when an application demands it."},
    {kuDecipherOnly, "decipherOnly", "Decipher Only",
     "With Key Agreement only: the agreed key may only decrypt. Tick it only together with Key "
     "Agreement, and only when an application demands it."},
}};

inline constexpr std::array<TUsageInfo<TExtKeyUsage>, 6> kExtKeyUsages{{
    {ekuServerAuth, "serverAuth", "TLS Server Authentication",
     "The certificate identifies a TLS server, such as an HTTPS site. Tick it for servers, and "
     "list the server's names under DNS Names."},
    {ekuClientAuth, "clientAuth", "TLS Client Authentication",
     "The certificate identifies a client to a TLS server: mutual TLS, VPN users, devices. Tick "
     "it for client certificates."},
    {ekuCodeSigning, "codeSigning", "Code Signing",
     "The key signs programs, scripts or packages. Tick it for a code-signing certificate "
     "only."},
    {ekuEmailProtection, "emailProtection", "Email Protection",
     "The key signs or encrypts e-mail (S/MIME). Tick it for e-mail certificates, with the "
     "address under Emails or in the subject's Email."},
    {ekuTimeStamping, "timeStamping", "Time Stamping",
     "The key signs time stamps as a time-stamping authority. Tick it only for such an "
     "authority's certificate, and on its own."},
    {ekuOCSPSigning, "OCSPSigning", "OCSP Signing",
     "The key signs OCSP answers about certificates on behalf of their CA. Tick it only for an "
     "OCSP responder's certificate issued by that CA."},
}};

// "nonRepudiation", the older name of contentCommitment, is still taken.
inline constexpr std::string_view kContentCommitmentOldName = "nonRepudiation";

}  // namespace velmora
