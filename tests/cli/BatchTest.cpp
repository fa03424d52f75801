// velmora-cli batch as a script meets it: a file of lines in, one result per line out, the
// files of the good lines as the openssl command line checks them, nothing of the bad ones.
#include "tests/cli/CliFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace velmora::test {
namespace {

// One line of a batch: cert's long option names and their arguments; a list is its items
// joined with commas.
using TLine = std::vector<std::pair<std::string, std::string>>;

bool IsList(const std::string& Key) { return Key == "dns" || Key == "ip" || Key == "san-email"; }

std::string JSONString(const std::string& Text) {
  const std::string array = QJsonDocument(QJsonArray{QString::fromStdString(Text)})
                                .toJson(QJsonDocument::Compact)
                                .toStdString();
  return array.substr(1, array.size() - 2);
}

std::string AsJSONLine(const TLine& Line) {
  std::string text;
  for (const auto& [key, value] : Line) {
    text.append(text.empty() ? "{" : ",").append(JSONString(key)).append(":");
    if (!IsList(key)) {
      text += JSONString(value);
      continue;
    }
    std::string items;
    std::stringstream list(value);
    for (std::string item; std::getline(list, item, ',');)
      items.append(items.empty() ? "" : ",").append(JSONString(item));
    text.append("[").append(items).append("]");
  }
  return text + "}\n";
}

std::string CSVCell(const std::string& Text) {
  std::string cell = "\"";
  for (char c : Text) cell.append(c == '"' ? 2 : 1, c);
  return cell + "\"";
}

// Every key any line uses is a column; a line without it leaves its cell empty.
std::string AsCSV(const std::vector<TLine>& Lines) {
  std::vector<std::string> columns;
  for (const TLine& line : Lines)
    for (const auto& field : line)
      if (std::find(columns.begin(), columns.end(), field.first) == columns.end())
        columns.push_back(field.first);
  std::string text;
  for (const std::string& column : columns) text.append(text.empty() ? "" : ",").append(column);
  text += "\r\n";
  for (const TLine& line : Lines) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i > 0) text += ",";
      for (const auto& [key, value] : line)
        if (key == columns[i]) text += CSVCell(value);
    }
    text += "\r\n";
  }
  return text;
}

void WriteFile(const std::string& Path, const std::string& Text) {
  std::ofstream(Path, std::ios::binary) << Text;
}

QJsonObject ParseObject(const std::string& Line) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(Line)).object();
}

std::vector<QJsonObject> ResultLines(const std::string& Out) {
  std::vector<QJsonObject> results;
  std::stringstream lines(Out);
  for (std::string line; std::getline(lines, line);) results.push_back(ParseObject(line));
  return results;
}

std::string Str(const QJsonValue& Value) { return Value.toString().toStdString(); }

enum class TFormat { JSONLines, CSV };

class CliBatch : public CliTest, public testing::WithParamInterface<TFormat> {
 protected:
  void SetUp() override {
    if (const std::string missing = MissingPrograms({"openssl"}); !missing.empty())
      GTEST_FAIL() << "The batch's files are checked with the openssl command line; not "
                      "installed: "
                   << missing;
    const TProcessResult ca =
        Cli({"cert", "--profile", "root-ca", "--cn", "Batch Test CA", "--key-pass",
             "pass:ca secret", "--out-cert", "ca.crt", "--out-key", "ca.key", "--store", At("ca")});
    ASSERT_EQ(ca.Status, 0) << ca.Err;
  }

  // The batch file in the test's format, and the options that make every line CA-signed.
  TProcessResult Batch(const std::vector<TLine>& Lines, std::vector<std::string> Options = {}) {
    const bool csv = GetParam() == TFormat::CSV;
    std::string text;
    if (csv)
      text = AsCSV(Lines);
    else
      for (const TLine& line : Lines) text += AsJSONLine(line);
    const std::string file = At(csv ? "lines.csv" : "lines.jsonl");
    WriteFile(file, text);
    std::vector<std::string> args{"batch",         file,          "--json",        "--store",
                                  Store(),         "--sign-with", At("ca/ca.crt"), "--sign-key",
                                  At("ca/ca.key"), "--ca-pass",   "env:CA_PASS"};
    args.insert(args.end(), Options.begin(), Options.end());
    return Cli(args, {"CA_PASS=ca secret", "BUNDLE_PASS=bundle secret"});
  }

  std::string Store() const { return At("store"); }

  // What cert says on standard error for the same arguments, without the usage lines.
  std::string CertMessage(const TLine& Line) {
    std::vector<std::string> args{"cert", "--store", At("cert-store")};
    for (const auto& [key, value] : Line) args.insert(args.end(), {"--" + key, value});
    std::string err = Cli(args).Err;
    if (err.starts_with("velmora-cli: ")) err = err.substr(13, err.find("\nUsage:") - 13);
    while (!err.empty() && err.back() == '\n') err.pop_back();
    return err;
  }
};

// 47 good lines across profiles, key types and bundles, one of them an intermediate CA,
// and three bad ones: a value cert refuses to read, a subject field the certificate cannot
// hold, and a file name an earlier line writes.
std::vector<TLine> MixedLines() {
  const char* const profiles[] = {"tls-server", "tls-client", "tls-server-client",
                                  "custom",     "email",      "code-signing"};
  const char* const keys[] = {"ec:P-256", "ec:P-384", "ed25519", "ec:P-521"};
  std::vector<TLine> lines;
  for (int i = 0; i < 47; ++i) {
    const std::string n = std::to_string(i);
    TLine line{
        {"cn", "host" + n + ".example"},   {"dns", "host" + n + ".example,alt" + n + ".example"},
        {"profile", profiles[i % 6]},      {"key", i == 9 || i == 30 ? "rsa:2048" : keys[i % 4]},
        {"out-cert", "host" + n + ".crt"}, {"out-key", "host" + n + ".key"}};
    if (i % 5 == 0)
      line.insert(line.end(), {{"p12", "host" + n + ".p12"}, {"p12-pass", "env:BUNDLE_PASS"}});
    if (i == 20)
      line = {{"cn", "Batch Intermediate"},
              {"profile", "intermediate-ca"},
              {"out-cert", "sub.crt"},
              {"out-key", "sub.key"}};
    lines.push_back(line);
  }
  lines.insert(lines.begin() + 10, TLine{{"cn", "bad-days.example"},
                                         {"days", "soon"},
                                         {"out-cert", "bad1.crt"},
                                         {"out-key", "bad1.key"}});
  lines.insert(
      lines.begin() + 25,
      TLine{{"cn", std::string(70, 'x')}, {"out-cert", "bad2.crt"}, {"out-key", "bad2.key"}});
  lines.insert(lines.begin() + 40,
               TLine{{"cn", "twice.example"}, {"out-cert", "host1.crt"}, {"out-key", "bad3.key"}});
  return lines;
}

TEST_P(CliBatch, IssuesTheGoodLinesReportsTheBadOnesAndSkipsWhatExistsOnARerun) {
  const std::vector<TLine> lines = MixedLines();
  ASSERT_EQ(lines.size(), 50u);
  const TProcessResult run = Batch(lines);
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_TRUE(run.Err.ends_with("3 of 50 lines failed.\n")) << run.Err;

  // CSV has a header row: its records start one line further down.
  const std::uint64_t offset = GetParam() == TFormat::CSV ? 2 : 1;
  const std::map<std::uint64_t, std::string> failures{
      {10 + offset, CertMessage(lines[10])},
      {25 + offset, CertMessage(lines[25])},
      {40 + offset, "Line " + std::to_string(1 + offset) + " writes " + Store() +
                        "/host1.crt already: each line needs file names of its own."}};
  const std::vector<QJsonObject> results = ResultLines(run.Out);
  ASSERT_EQ(results.size(), 50u) << run.Out;
  std::string verifyArgs;
  std::set<std::string> written;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const QJsonObject& result = results[i];
    const std::uint64_t line = i + offset;
    SCOPED_TRACE("line " + std::to_string(line));
    EXPECT_EQ(result["line"].toInteger(), static_cast<qint64>(line));
    if (const auto failure = failures.find(line); failure != failures.end()) {
      EXPECT_EQ(Str(result["status"]), "failed");
      EXPECT_EQ(Str(result["error"]), failure->second);
      EXPECT_TRUE(result["files"].toArray().isEmpty());
      EXPECT_NE(run.Err.find("line " + std::to_string(line) + ": " + failure->second + "\n"),
                std::string::npos);
      continue;
    }
    EXPECT_EQ(Str(result["status"]), "issued");
    EXPECT_TRUE(result["error"].isNull());
    for (const QJsonValue& file : result["files"].toArray()) {
      const std::string path = Str(file);
      written.insert(path.substr(Store().size() + 1));
      if (!path.ends_with(".crt")) continue;
      verifyArgs.append(" ").append(Quoted(path));
      // The serial reported is the certificate's, as openssl prints it.
      EXPECT_EQ(OpenSSL("x509 -noout -serial -in " + Quoted(path)).output,
                "serial=" + Str(result["serial"]) + "\n");
    }
  }
  const TRun verify =
      OpenSSL("verify -x509_strict -CAfile " + Quoted(At("ca/ca.crt")) + verifyArgs);
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_EQ(std::count(verify.output.begin(), verify.output.end(), '\n'), 47) << verify.output;
  const TRun bundle =
      OpenSSL("pkcs12 -noout -passin pass:'bundle secret' -in " + Quoted(Store() + "/host5.p12"));
  EXPECT_EQ(bundle.status, 0) << bundle.output;

  // Exactly the good lines' files: 47 certificates, 47 keys, 10 bundles, none of a bad line.
  std::set<std::string> present;
  const TFileTree before = FilesUnder(Store());
  for (const auto& file : before) present.insert(file.first);
  EXPECT_EQ(present, written);
  EXPECT_EQ(present.size(), 47u + 47u + 9u);

  // Run again: the good lines are there and are left alone; the bad ones fail again.
  const TProcessResult again = Batch(lines);
  EXPECT_EQ(again.Status, 1) << again.Err;
  std::size_t exist = 0;
  for (const QJsonObject& result : ResultLines(again.Out))
    exist += Str(result["status"]) == "exists";
  EXPECT_EQ(exist, 47u);
  EXPECT_EQ(ChangedFiles(before, FilesUnder(Store())), std::set<std::string>{});
}

TEST_P(CliBatch, StopOnErrorIssuesNothingAfterTheFirstFailure) {
  const std::vector<TLine> lines{
      {{"cn", "one.example"}, {"out-cert", "one.crt"}, {"out-key", "one.key"}},
      {{"cn", "two.example"}, {"c", "Germany"}, {"out-cert", "two.crt"}, {"out-key", "two.key"}},
      {{"cn", "three.example"}, {"out-cert", "three.crt"}, {"out-key", "three.key"}}};
  const TProcessResult run = Batch(lines, {"--stop-on-error", "--jobs", "1"});
  EXPECT_EQ(run.Status, 1);
  const std::vector<QJsonObject> results = ResultLines(run.Out);
  ASSERT_EQ(results.size(), 2u) << run.Out;
  EXPECT_EQ(Str(results[0]["status"]), "issued");
  EXPECT_EQ(Str(results[1]["status"]), "failed");
  EXPECT_EQ(Str(results[1]["error"]), CertMessage(lines[1]));
  EXPECT_NE(run.Err.find("1 lines were not issued"), std::string::npos) << run.Err;
  const TFileTree files = FilesUnder(Store());
  EXPECT_EQ(files.size(), 2u);
  EXPECT_TRUE(files.count("one.crt"));
}

INSTANTIATE_TEST_SUITE_P(Formats, CliBatch, testing::Values(TFormat::JSONLines, TFormat::CSV),
                         [](const auto& Info) {
                           return Info.param == TFormat::CSV ? std::string("CSV")
                                                             : std::string("JSONLines");
                         });

// A file that is not what it should be anywhere issues nothing at all, not even the good
// lines before the fault.
TEST_F(CliTest, BatchWithASyntaxErrorAnywhereIssuesNothing) {
  const std::string good = "{\"cn\":\"a.example\",\"out-cert\":\"a.crt\",\"out-key\":\"a.key\"}\n";
  struct TCase {
    const char* Name;
    const char* File;
    std::string Text;
    std::string Said;
  };
  const TCase cases[] = {
      {"broken JSON", "b.jsonl", good + "{\"cn\": \"b.example\"\n", "line 2: not JSON: "},
      {"not an object", "b.jsonl", good + "[\"cn\"]\n", "line 2: a line is one JSON object"},
      {"unknown key", "b.jsonl", good + "{\"cn\":\"b\",\"common-name\":\"b\"}\n",
       "line 2: unknown key \"common-name\""},
      {"open quote", "b.csv", "cn,out-cert\na.example,a.crt\n\"b.example,b.crt\n",
       "line 3: a quoted cell is not closed"},
      {"cell count", "b.csv", "cn,out-cert\na.example,a.crt\nb.example\n",
       "line 3: the row has 1 cells, the header 2."},
      {"unknown column", "b.csv", "cn,outcert\na.example,a.crt\n",
       "line 1: unknown key \"outcert\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(At(c.File), c.Text);
    const std::string store = At(std::string("store-") + c.Name);
    const TProcessResult run = Cli({"batch", At(c.File), "--store", store});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find(c.Said), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("Nothing was issued."), std::string::npos) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(store));
  }
}

// Standard input is read twice like a file (checked, then issued); a spreadsheet's CSV with its
// byte order mark and CRLF line ends reads as any other.
TEST_F(CliTest, BatchReadsCSVFromStandardInput) {
  const std::string store = At("store");
  TChildInput input;
  input.Stdin =
      "\xEF\xBB\xBF"
      "cn,dns,out-cert,out-key\r\nin.example,\"in.example,www.in.example\",in.crt,in.key\r\n";
  const TProcessResult run = Cli({"batch", "-", "--csv", "--store", store}, {}, input);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "Issued 1 certificates; 0 lines skipped, their files exist.\n");
  const TRun text = OpenSSL("x509 -noout -ext subjectAltName -in " + Quoted(store + "/in.crt"));
  EXPECT_NE(text.output.find("DNS:in.example, DNS:www.in.example"), std::string::npos)
      << text.output;
}

}  // namespace
}  // namespace velmora::test
