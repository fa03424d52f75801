// A host for a store panel on a bare form: it keeps the log lines and ignores what the panel
// hands to the window.
#pragma once

#include "ui/StorePanel.h"

#include <string>
#include <vector>

namespace velmora::test {

class LoggingHost final : public IStorePanelHost {
 public:
  void Log(const std::string& Text) override { Lines.push_back(Text); }
  void StoreDirChanged() override {}
  void UseAsCA(TCAPart, const std::string&) override {}
  void SignRequest(const std::string&) override {}
  void UseAsTemplate(const std::string&) override {}
  void RenewStoreCertificate(const std::string&, bool) override {}
  void ExportChain(const std::string&) override {}
  std::vector<std::string> Lines;
};

}  // namespace velmora::test
