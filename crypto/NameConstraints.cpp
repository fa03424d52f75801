#include "crypto/NameConstraints.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>

namespace velmora {

namespace {

using NAME_CONSTRAINTSPtr = DeleteFnPtr<NAME_CONSTRAINTS, NAME_CONSTRAINTS_free>;

[[noreturn]] void RaiseInvalid(std::string_view Item) {
  throw Exception("Invalid name constraint \"" + std::string(Item) + "\".");
}

char LowerASCII(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool EqualIgnoringCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return LowerASCII(X) == LowerASCII(Y);
         });
}

bool IsLabel(std::string_view Label) {
  if (Label.empty() || Label.size() > 63 || Label.front() == '-' || Label.back() == '-')
    return false;
  return std::all_of(Label.begin(), Label.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

// "example.org", "localhost": labels of a host name, nothing else (no wildcard, no dot at
// either end).
bool IsDomain(std::string_view Name) {
  if (Name.empty() || Name.size() > 253) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = Name.find('.', start);
    if (!IsLabel(Name.substr(start, dot - start))) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// No top-level domain is all digits; a name ending in one is an address or a mistake.
bool IsNumeric(std::string_view Label) {
  return std::all_of(Label.begin(), Label.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The address's bytes (4 or 16), or empty when Text is no address.
std::string AddressBytes(std::string_view Text) {
  if (Text.find('\0') != std::string_view::npos) return {};
  const std::string text(Text);
  unsigned char bytes[16];
  if (::inet_pton(AF_INET, text.c_str(), bytes) == 1)
    return std::string(reinterpret_cast<const char*>(bytes), 4);
  if (::inet_pton(AF_INET6, text.c_str(), bytes) == 1)
    return std::string(reinterpret_cast<const char*>(bytes), 16);
  return {};
}

std::string AddressText(std::string_view Bytes) {
  char text[INET6_ADDRSTRLEN] = {};
  const int family = Bytes.size() == 4 ? AF_INET : AF_INET6;
  if (::inet_ntop(family, Bytes.data(), text, sizeof text) == nullptr) return {};
  return text;
}

std::string MaskBytes(std::size_t Length, unsigned Prefix) {
  std::string mask(Length, '\0');
  for (std::size_t i = 0; i < Length; ++i) {
    const unsigned bits = Prefix >= 8 * (i + 1) ? 8 : (Prefix > 8 * i ? Prefix - 8 * i : 0);
    mask[i] = static_cast<char>(bits == 0 ? 0 : (0xFF << (8 - bits)) & 0xFF);
  }
  return mask;
}

// The leading one bits of a mask; the mask "10.0.0.0/255.0.255.0" that nobody means still
// gives a text, its address with the number of bits up to the first gap.
unsigned PrefixOf(std::string_view Mask) {
  unsigned prefix = 0;
  for (const char byte : Mask) {
    for (int bit = 7; bit >= 0; --bit) {
      if ((static_cast<unsigned char>(byte) & (1u << bit)) == 0) return prefix;
      ++prefix;
    }
  }
  return prefix;
}

TNameConstraint ParseRange(std::string_view Item) {
  const std::size_t slash = Item.find('/');
  const std::string address = AddressBytes(Item.substr(0, slash));
  const std::string_view digits = Item.substr(slash + 1);
  if (address.empty() || digits.empty() || digits.size() > 3 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    RaiseInvalid(Item);
  const unsigned prefix = static_cast<unsigned>(std::stoi(std::string(digits)));
  if (prefix > 8 * address.size()) RaiseInvalid(Item);
  const std::string mask = MaskBytes(address.size(), prefix);
  for (std::size_t i = 0; i < address.size(); ++i)
    if ((address[i] & ~mask[i]) != 0) RaiseInvalid(Item);
  return {TNameKind::IP, std::string(Item), address + mask};
}

std::string IA5Text(const ASN1_IA5STRING* Text) {
  if (Text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(Text)),
                     static_cast<std::size_t>(ASN1_STRING_length(Text)));
}

// A subtree as this program writes and judges one; false for kinds it does not issue.
bool ReadSubtree(const GENERAL_SUBTREE* Subtree, TNameConstraint& Constraint) {
  const GENERAL_NAME* base = Subtree->base;
  if (base == nullptr) return false;
  switch (base->type) {
    case GEN_DNS:
      Constraint = {TNameKind::DNS, IA5Text(base->d.dNSName), IA5Text(base->d.dNSName)};
      return true;
    case GEN_EMAIL: {
      const std::string value = IA5Text(base->d.rfc822Name);
      Constraint = {TNameKind::Email, value.find('@') == std::string::npos ? "@" + value : value,
                    value};
      return true;
    }
    case GEN_IPADD: {
      const ASN1_OCTET_STRING* range = base->d.iPAddress;
      const int length = range ? ASN1_STRING_length(range) : 0;
      if (length != 8 && length != 32) return false;
      const std::string value(reinterpret_cast<const char*>(ASN1_STRING_get0_data(range)),
                              static_cast<std::size_t>(length));
      const std::size_t half = value.size() / 2;
      Constraint = {TNameKind::IP,
                    AddressText(std::string_view(value).substr(0, half)) + "/" +
                        std::to_string(PrefixOf(std::string_view(value).substr(half))),
                    value};
      return true;
    }
    default: return false;
  }
}

std::vector<TNameConstraint> ReadSubtrees(const STACK_OF(GENERAL_SUBTREE) * Subtrees) {
  std::vector<TNameConstraint> constraints;
  for (int i = 0; i < sk_GENERAL_SUBTREE_num(Subtrees); ++i) {
    TNameConstraint constraint;
    if (ReadSubtree(sk_GENERAL_SUBTREE_value(Subtrees, i), constraint))
      constraints.push_back(std::move(constraint));
  }
  return constraints;
}

// A subtree in libcrypto's configuration syntax: "DNS:example.org", "IP:10.0.0.0/255.0.0.0",
// "email:example.org".
std::string ConfigurationText(const TNameConstraint& Constraint) {
  switch (Constraint.Kind) {
    case TNameKind::DNS: return "DNS:" + Constraint.Value;
    case TNameKind::Email: return "email:" + Constraint.Value;
    case TNameKind::IP: {
      const std::string_view value(Constraint.Value);
      const std::size_t half = value.size() / 2;
      return "IP:" + AddressText(value.substr(0, half)) + "/" + AddressText(value.substr(half));
    }
  }
  return {};
}

}  // namespace

TNameConstraint ParseNameConstraint(std::string_view Item) {
  if (Item.find('/') != std::string_view::npos) return ParseRange(Item);
  if (!Item.empty() && Item.front() == '@') {
    const std::string_view domain = Item.substr(1);
    if (!IsDomain(domain) || IsNumeric(domain.substr(domain.rfind('.') + 1))) RaiseInvalid(Item);
    return {TNameKind::Email, std::string(Item), std::string(Item.substr(1))};
  }
  const std::string_view domain = !Item.empty() && Item.front() == '.' ? Item.substr(1) : Item;
  // An address is no domain: a verifier would compare it with DNS names only.
  if (!IsDomain(domain) || IsNumeric(domain.substr(domain.rfind('.') + 1))) RaiseInvalid(Item);
  return {TNameKind::DNS, std::string(Item), std::string(Item)};
}

bool NameWithin(const TNameConstraint& Constraint, std::string_view Name) {
  const std::string_view base(Constraint.Value);
  switch (Constraint.Kind) {
    case TNameKind::DNS: {
      if (base.empty()) return true;
      if (Name.size() < base.size()) return false;
      const std::string_view tail = Name.substr(Name.size() - base.size());
      // More labels on the left only: "badexample.org" is not under "example.org".
      if (Name.size() > base.size() && base.front() != '.' &&
          Name[Name.size() - base.size() - 1] != '.')
        return false;
      return EqualIgnoringCase(tail, base);
    }
    case TNameKind::Email: {
      const std::size_t at = Name.rfind('@');
      if (at == std::string_view::npos) return false;
      if (base.find('@') != std::string_view::npos)  // one mailbox
        return Name.substr(0, at) == base.substr(0, base.find('@')) &&
               EqualIgnoringCase(Name.substr(at + 1), base.substr(base.find('@') + 1));
      const std::string_view host = Name.substr(at + 1);
      if (!base.empty() && base.front() == '.')
        return host.size() > base.size() &&
               EqualIgnoringCase(host.substr(host.size() - base.size()), base);
      return EqualIgnoringCase(host, base);
    }
    case TNameKind::IP: {
      const std::string address = AddressBytes(Name);
      if (address.empty() || 2 * address.size() != base.size()) return false;
      for (std::size_t i = 0; i < address.size(); ++i)
        if (((address[i] ^ base[i]) & base[address.size() + i]) != 0) return false;
      return true;
    }
  }
  return false;
}

bool NamePermitted(const TNameConstraints& Constraints, TNameKind Kind, std::string_view Name) {
  const auto within = [&](const TNameConstraint& c) {
    return c.Kind == Kind && NameWithin(c, Name);
  };
  const auto ofKind = [&](const TNameConstraint& c) { return c.Kind == Kind; };
  if (std::any_of(Constraints.Excluded.begin(), Constraints.Excluded.end(), within)) return false;
  const bool restricted =
      std::any_of(Constraints.Permitted.begin(), Constraints.Permitted.end(), ofKind);
  return !restricted ||
         std::any_of(Constraints.Permitted.begin(), Constraints.Permitted.end(), within);
}

X509_EXTENSIONPtr NewNameConstraintsExtension(const std::vector<std::string>& Permitted,
                                              const std::vector<std::string>& Excluded) {
  // RFC 5280 wants the extension critical: a verifier that cannot read it must not accept
  // what the CA signs as if it could issue for any name.
  std::string text = "critical";
  for (const std::string& item : Permitted)
    text += ",permitted;" + ConfigurationText(ParseNameConstraint(item));
  for (const std::string& item : Excluded)
    text += ",excluded;" + ConfigurationText(ParseNameConstraint(item));
  X509V3_CTX context{};
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, nullptr, nullptr, nullptr, nullptr, 0);
  X509_EXTENSIONPtr extension(
      X509V3_EXT_conf_nid(nullptr, &context, NID_name_constraints, text.c_str()));
  if (!extension) RaiseOpenSSLError("X509V3_EXT_conf_nid nid=name_constraints val=" + text);
  return extension;
}

TNameConstraints NameConstraintsOf(X509* Cert) {
  TNameConstraints constraints;
  if (Cert == nullptr) return constraints;
  TolerateErrors tolerate;  // an unreadable extension is judged by verifiers, not here
  const NAME_CONSTRAINTSPtr read(static_cast<NAME_CONSTRAINTS*>(
      X509_get_ext_d2i(Cert, NID_name_constraints, nullptr, nullptr)));
  if (!read) return constraints;
  constraints.Permitted = ReadSubtrees(read->permittedSubtrees);
  constraints.Excluded = ReadSubtrees(read->excludedSubtrees);
  return constraints;
}

}  // namespace velmora
