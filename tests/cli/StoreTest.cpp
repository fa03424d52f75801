// velmora-cli list and info in their JSON form, read back with Qt's JSON reader and held
// against the files themselves.
#include "tests/cli/CliFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <sys/stat.h>

#include <ctime>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

QJsonArray ParseArray(const std::string& Json) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(Json), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n"
                                                   << Json;
  EXPECT_TRUE(document.isArray()) << Json;
  return document.array();
}

std::vector<std::string> Keys(const QJsonObject& Object) {
  std::vector<std::string> keys;
  for (const QString& key : Object.keys()) keys.push_back(key.toStdString());
  return keys;
}

std::string Text(const QJsonValue& Value) {
  EXPECT_TRUE(Value.isString());
  return Value.toString().toStdString();
}

// The modification time the listing reports: whole seconds, in UTC, ISO 8601.
std::string ModifiedUTC(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return "(no such file)";
  std::tm utc{};
  char text[32];
  if (::gmtime_r(&info.st_mtime, &utc) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    return "(no time)";
  return text;
}

class CliStore : public CliTest {
 protected:
  // Issues name.crt and name.key (and name.p12 when asked) into the store.
  void Issue(const std::string& Name, std::vector<std::string> Extra) {
    std::vector<std::string> args{"cert",        "--cn",        Name + ".example",
                                  "--out-cert",  Name + ".crt", "--out-key",
                                  Name + ".key", "--store",     At("store")};
    args.insert(args.end(), Extra.begin(), Extra.end());
    const TProcessResult run = Cli(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
  }
};

TEST_F(CliStore, ListJsonNamesEachStoreFileInNameOrderWithTypeSizeAndTime) {
  ASSERT_NO_FATAL_FAILURE(Issue("a", {"--p12", "a.p12"}));
  const std::string store = At("store");
  const std::string certPEM = ReadFileText(store + "/a.crt");
  WriteFile(store + "/b.pem", certPEM);
  WriteFile(store + "/C.CER", certPEM);
  WriteFile(store + "/d.pfx", std::string(1500, 'x'));
  WriteFile(store + "/notes.txt", "not a store file\n");
  fs::create_directory(store + "/folder.crt");
  fs::create_symlink(store + "/nowhere", store + "/gone.key");

  const TProcessResult run = Cli({"list", store, "--json"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const QJsonArray rows = ParseArray(run.Out);

  // The window's order of the names (case does not count), whatever order the folder gives
  // them in; a link leading nowhere is listed without the facts it has none of.
  const std::pair<const char*, const char*> expected[] = {
      {"a.crt", "Cert"}, {"a.key", "Key"}, {"a.p12", "PFX"},    {"b.pem", "Cert"},
      {"C.CER", "Cert"}, {"d.pfx", "PFX"}, {"gone.key", "Key"},
  };
  ASSERT_EQ(rows.size(), static_cast<qsizetype>(std::size(expected))) << run.Out;
  for (qsizetype i = 0; i < rows.size(); ++i) {
    const auto& [name, type] = expected[i];
    SCOPED_TRACE(name);
    const QJsonObject row = rows[i].toObject();
    EXPECT_EQ(Text(row["name"]), name);
    EXPECT_EQ(Text(row["type"]), type);
    const std::string path = store + "/" + name;
    if (std::string(name) == "gone.key") {
      EXPECT_EQ(Keys(row), (std::vector<std::string>{"name", "type"}));
      continue;
    }
    // Certificates carry the window's Expires column: a year's certificate has just under a
    // year left.
    if (std::string(type) == "Cert") {
      EXPECT_EQ(Keys(row), (std::vector<std::string>{"days_left", "expires", "modified", "name",
                                                     "size", "type"}));
      // Whole days, counted down: 365 in the second of issue, 364 after it.
      EXPECT_GE(row["days_left"].toInteger(-1), 364);
      EXPECT_LE(row["days_left"].toInteger(-1), 365);
      EXPECT_TRUE(Text(row["expires"]).ends_with("Z")) << Text(row["expires"]);
    } else {
      EXPECT_EQ(Keys(row), (std::vector<std::string>{"modified", "name", "size", "type"}));
    }
    EXPECT_EQ(row["size"].toInteger(-1), static_cast<qint64>(fs::file_size(path)));
    EXPECT_EQ(Text(row["modified"]), ModifiedUTC(path));
  }
}

TEST_F(CliStore, InfoJsonDescribesCertificatesKeysAndBundles) {
  ASSERT_NO_FATAL_FAILURE(Issue("a", {"--p12", "a.p12"}));
  ASSERT_NO_FATAL_FAILURE(Issue("e", {"--key", "ec:P-384", "--key-pass", "pass:e secret"}));
  const std::string store = At("store");
  struct Expected {
    const char* name;
    std::vector<std::string> lines;    // after the file's facts and the blank line
    const char* firstDetail;           // the first line of the details, or none
    std::vector<std::string> related;  // the store's files that belong with it
  };
  const char* const selfSigned = "Issued by (in store): itself (self-signed)";
  const Expected files[] = {
      {"a.crt",
       {"Key Type:     ECC P-256", "Sig Algorithm: ES256", "Has Private Key: False"},
       "Subject: CN=a.example",
       {"Private key in store: a.key", selfSigned}},
      {"a.key",
       {"Key Type: ECC P-256 private key"},
       nullptr,
       {"Certificates with this key: a.crt"}},
      {"e.crt",
       {"Key Type:     ECC P-384", "Sig Algorithm: ES384", "Has Private Key: False"},
       "Subject: CN=e.example",
       {"Private key in store: none found (1 key has a password and could not be compared)",
        selfSigned}},
      {"e.key", {"(Encrypted or unreadable key \u2014 password required)"}, nullptr, {}},
      {"a.p12",
       {"PKCS#12 bundle \u2014 the program that imports it asks for its password."},
       "Bundle contents: private key, 1 certificate",
       {}},
  };
  std::vector<std::string> args{"info", "--json"};
  for (const Expected& file : files) args.push_back(store + "/" + file.name);

  const TProcessResult run = Cli(args);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const QJsonArray entries = ParseArray(run.Out);
  ASSERT_EQ(entries.size(), static_cast<qsizetype>(std::size(files))) << run.Out;
  for (qsizetype i = 0; i < entries.size(); ++i) {
    const Expected& file = files[i];
    SCOPED_TRACE(file.name);
    const std::string path = store + "/" + file.name;
    const QJsonObject entry = entries[i].toObject();
    EXPECT_EQ(Keys(entry), (std::vector<std::string>{"details", "lines", "path", "related"}));
    EXPECT_EQ(Text(entry["path"]), path);
    std::vector<std::string> lines;
    for (const QJsonValue& line : entry["lines"].toArray()) lines.push_back(Text(line));
    ASSERT_EQ(lines.size(), 5 + file.lines.size()) << run.Out;
    EXPECT_EQ(lines[0], "File: " + std::string(file.name));
    EXPECT_EQ(lines[1], "Path: " + path);
    EXPECT_EQ(lines[2], "Size: " + std::to_string(fs::file_size(path)) + " bytes");
    EXPECT_TRUE(lines[3].starts_with("Modified: ")) << lines[3];
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), file.lines);
    const QJsonArray details = entry["details"].toArray();
    EXPECT_EQ(details.isEmpty() ? "(none)" : Text(details.first()),
              file.firstDetail ? file.firstDetail : "(none)");
    std::vector<std::string> related;
    for (const QJsonValue& line : entry["related"].toArray()) related.push_back(Text(line));
    EXPECT_EQ(related, file.related);
  }
}

TEST_F(CliStore, InfoJsonOfAMissingFileCarriesTheErrorAndFails) {
  const std::string absent = At("store/absent.crt");
  const TProcessResult run = Cli({"info", "--json", absent});
  EXPECT_EQ(run.Status, 1);
  const QJsonArray entries = ParseArray(run.Out);
  ASSERT_EQ(entries.size(), 1) << run.Out;
  const QJsonObject entry = entries[0].toObject();
  EXPECT_EQ(Text(entry["path"]), absent);
  const std::string error = Text(entry["error"]);
  EXPECT_NE(error.find(absent), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

// Without --store (cert) or a folder (list) the store is the one the window remembers in
// ~/.config/Brenmoor/Velmora.conf.
TEST_F(CliStore, SettingsFileNamesTheDefaultStore) {
  const std::string configured = At("configured store");
  fs::create_directories(ConfigDir() + "/Brenmoor");
  WriteFile(ConfigDir() + "/Brenmoor/Velmora.conf", "[General]\nStoreDir=" + configured + "\n");

  const TProcessResult cert = Cli({"cert", "--cn", "remembered.example"});
  ASSERT_EQ(cert.Status, 0) << cert.Err;
  EXPECT_TRUE(fs::is_regular_file(configured + "/certificate.crt"));

  const TProcessResult list = Cli({"list", "--json"});
  ASSERT_EQ(list.Status, 0) << list.Err;
  QStringList names;
  for (const QJsonValue& row : ParseArray(list.Out)) names << row.toObject()["name"].toString();
  EXPECT_EQ(names, (QStringList{"certificate.crt", "private.key"}));
}

}  // namespace
}  // namespace velmora::test
