#include "core/CertRequest.h"

#include "core/Usages.h"
#include "core/ValueConventions.h"
#include "crypto/NameConstraints.h"

#include <array>
#include <string>
#include <utility>

namespace velmora {

namespace {

template <typename TMember, std::size_t N>
std::optional<TMember> ByName(const std::array<TUsageInfo<TMember>, N>& Usages,
                              std::string_view Name) {
  for (const TUsageInfo<TMember>& usage : Usages)
    if (usage.Name == Name) return usage.Member;
  return std::nullopt;
}

template <typename TSet, typename TMember>
TSet SetFromList(std::optional<TMember> (*ByNameOf)(std::string_view), const std::string& List,
                 const char* What) {
  TSet set;
  for (const std::string& name : SplitCommaList(List)) {
    const std::optional<TMember> member = ByNameOf(name);
    if (!member) throw Exception(std::string("Unknown ") + What + " \"" + name + "\".");
    set.insert(*member);
  }
  return set;
}

}  // namespace

void RequireValidValidity(std::int32_t Days, std::time_t Now) {
  if (Days < 1) throw Exception("The validity must be at least one day.");
  // 9999-12-31 23:59:59 UTC, the last moment that a certificate's GeneralizedTime can name.
  constexpr std::int64_t kLastCertificateTime = 253402300799;
  const std::int64_t lastDays = (kLastCertificateTime - std::int64_t{Now}) / 86400;
  if (Days > lastDays)
    throw Exception("The validity must end before the year 10000: at most " +
                    std::to_string(lastDays < 1 ? 0 : lastDays) + " days from today.");
}

void RequireValidValidity(std::int32_t Days) { RequireValidValidity(Days, std::time(nullptr)); }

void ApplyRequestToBuilder(const TCertRequest& Request, TCertBuilder& Builder) {
  Builder.Subject = Request.Subject;
  Builder.ValidDays = Request.ValidDays;
  Builder.IsCA = Request.IsCA;
  // A path length means nothing for a certificate that is no CA.
  Builder.PathLenConstraint = Request.IsCA ? Request.PathLenConstraint : 0;
  Builder.KeyUsage = Request.KeyUsage;
  Builder.ExtKeyUsage = Request.ExtKeyUsage;
  Builder.SANDNSNames = Request.SANDNSNames;
  Builder.SANIPs = Request.SANIPs;
  Builder.SANEmails = Request.SANEmails;
  Builder.PermittedNames = Request.IsCA ? Request.PermittedNames : std::vector<std::string>{};
  Builder.ExcludedNames = Request.IsCA ? Request.ExcludedNames : std::vector<std::string>{};
  Builder.CRLURL = Request.CRLURL;
}

std::vector<std::string> NameConstraintsFromList(const std::string& List) {
  std::vector<std::string> items = SplitCommaList(List);
  for (const std::string& item : items) ParseNameConstraint(item);
  return items;
}

std::vector<std::string> SplitCommaList(const std::string& Text) {
  std::vector<std::string> pieces;
  if (Trim(Text).empty()) return pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = Text.find(',', start);
    const std::string piece = Trim(std::string_view(Text).substr(start, comma - start));
    if (!piece.empty()) pieces.push_back(piece);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return pieces;
}

std::optional<TKeyUsage> KeyUsageByName(std::string_view Name) {
  if (Name == kContentCommitmentOldName) return kuContentCommitment;
  return ByName(kKeyUsages, Name);
}

std::optional<TExtKeyUsage> ExtKeyUsageByName(std::string_view Name) {
  return ByName(kExtKeyUsages, Name);
}

TKeyUsageSet KeyUsagesFromList(const std::string& List) {
  return SetFromList<TKeyUsageSet>(&KeyUsageByName, List, "key usage");
}

TExtKeyUsageSet ExtKeyUsagesFromList(const std::string& List) {
  return SetFromList<TExtKeyUsageSet>(&ExtKeyUsageByName, List, "extended key usage");
}

}  // namespace velmora
