// velmora-cli list orders the store's files as the window's list does: letters without regard
// to case and runs of digits by their value, not by the names' bytes.
#include "tests/cli/CliFixture.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

class CliListOrder : public CliTest {
 protected:
  // Made in an order that is none of the expected ones, so the folder's own order cannot pass.
  void SetUp() override {
    std::filesystem::create_directory(At("store"));
    for (const char* name : {"b1.key", "a9.key", "B.key", "a10.key", "a.key"})
      WriteFile(At("store") + "/" + name, std::string("no key here\n"));
  }
  // By byte order: B.key, a.key, a10.key, a9.key, b1.key.
  const std::vector<std::string> FExpected{"a.key", "a9.key", "a10.key", "B.key", "b1.key"};
};

TEST_F(CliListOrder, TextListsNamesInTheWindowsOrder) {
  const TProcessResult run = Cli({"list", At("store")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::vector<std::string> names;
  std::istringstream lines(run.Out);
  for (std::string line; std::getline(lines, line);)
    names.push_back(line.substr(0, line.find('\t')));
  EXPECT_EQ(names, FExpected) << run.Out;
}

TEST_F(CliListOrder, JsonListsNamesInTheWindowsOrder) {
  const TProcessResult run = Cli({"list", At("store"), "--json"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(run.Out));
  ASSERT_TRUE(document.isArray()) << run.Out;
  std::vector<std::string> names;
  for (const QJsonValue& row : document.array())
    names.push_back(row.toObject()["name"].toString().toStdString());
  EXPECT_EQ(names, FExpected) << run.Out;
}

}  // namespace
}  // namespace velmora::test
