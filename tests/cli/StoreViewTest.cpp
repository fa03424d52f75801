// velmora-cli info and list as a terminal shows them: only the error for a file that is not
// there, a failing status for a file that cannot be read, names that cannot rewrite the
// screen, exact bytes for names that are no UTF-8, the Expires column, and a private key
// that others may read found in whatever file holds it.
#include "tests/cli/CliFixture.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <cctype>
#include <ctime>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

QJsonArray JsonArrayOf(const std::string& Json) {
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(Json));
  EXPECT_TRUE(document.isArray()) << Json;
  return document.array();
}

std::string Base64(const std::string& Bytes) {
  return QByteArray::fromStdString(Bytes).toBase64().toStdString();
}

bool HasLine(const std::string& Text, const std::string& Line) {
  return ("\n" + Text).find("\n" + Line + "\n") != std::string::npos;
}

class CliStoreView : public CliTest {
 protected:
  // name.crt and name.key issued into the store; ExtraArgs added to the command.
  void Issue(const std::string& Name, const std::vector<std::string>& ExtraArgs = {}) {
    std::vector<std::string> args{
        "cert",        "--cn",      Name + ".example", "--dns",   "x.example", "--out-cert",
        Name + ".crt", "--out-key", Name + ".key",     "--store", Store()};
    args.insert(args.end(), ExtraArgs.begin(), ExtraArgs.end());
    const TProcessResult run = Cli(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
  }
  std::string Store() const { return At("store"); }
  std::string InStore(const std::string& Name) const { return Store() + "/" + Name; }
};

TEST_F(CliStoreView, InfoOfAMissingFileSaysOnlyTheError) {
  const std::string absent = InStore("absent.crt");
  const TProcessResult run = Cli({"info", absent});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "Cannot read the date of \"" + absent + "\": No such file or directory.\n");
}

TEST_F(CliStoreView, InfoFailsForFilesItCannotReadOrUnderstand) {
  ASSERT_NO_FATAL_FAILURE(Issue("good"));
  ASSERT_NO_FATAL_FAILURE(Issue("locked", {"--key-pass", "pass:locked phrase"}));
  WriteFile(InStore("garbage.crt"), std::string("no certificate here\n"));
  WriteFile(InStore("garbage.key"), std::string("no key here\n"));
  WriteFile(InStore("garbage.p12"), std::string("no bundle here\n"));
  struct Case {
    const char* name;
    int status;
    const char* problem;  // the start of what stderr says after the path, or none
  };
  const Case cases[] = {
      {"good.crt", 0, nullptr},
      {"good.key", 0, nullptr},
      // Encrypted is what a key should be: the description says so, and nothing failed.
      {"locked.key", 0, nullptr},
      {"garbage.crt", 1, "Could not parse certificate: "},
      {"garbage.key", 1, "The file holds no private key."},
      {"garbage.p12", 1, "Cannot read the bundle: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TProcessResult run = Cli({"info", InStore(c.name)});
    EXPECT_EQ(run.Status, c.status) << run.Err;
    EXPECT_TRUE(HasLine(run.Out, "File: " + std::string(c.name))) << run.Out;
    if (c.problem == nullptr) {
      EXPECT_EQ(run.Err, "");
    } else {
      EXPECT_TRUE(run.Err.starts_with(InStore(c.name) + ": " + c.problem)) << run.Err;
    }
  }
}

// With both streams in one file, what was printed before an error stands before it.
TEST_F(CliStoreView, OutputBeforeAnErrorStaysBeforeIt) {
  ASSERT_EQ(MissingPrograms({"bash"}), "");
  ASSERT_NO_FATAL_FAILURE(Issue("good"));
  const TProcessResult run =
      RunProcess("/bin/bash",
                 {"-c", "\"$0\" info \"$1\" \"$2\" >\"$3\" 2>&1", VELMORA_CLI_PATH,
                  InStore("good.crt"), InStore("absent.crt"), At("both.txt")},
                 Environment());
  EXPECT_EQ(run.Status, 1) << run.Err;
  const std::string both = ReadFileText(At("both.txt"));
  const std::size_t facts = both.find("File: good.crt");
  const std::size_t error = both.find("Cannot read the date of");
  ASSERT_NE(facts, std::string::npos) << both;
  ASSERT_NE(error, std::string::npos) << both;
  EXPECT_LT(facts, error) << both;
}

TEST_F(CliStoreView, ControlCharactersInNamesAreEscaped) {
  ASSERT_NO_FATAL_FAILURE(Issue("plain"));
  const std::string evil =
      "evil\x1b]0;owned\x07\x9b"
      "2J.crt";
  fs::copy_file(InStore("plain.crt"), InStore(evil));
  const std::string shown = "evil\\x1b]0;owned\\x07\\x9b2J.crt";

  const TProcessResult list = Cli({"list", Store()});
  ASSERT_EQ(list.Status, 0) << list.Err;
  const TProcessResult info = Cli({"info", InStore(evil)});
  ASSERT_EQ(info.Status, 0) << info.Err;
  for (const TProcessResult* run : {&list, &info}) {
    EXPECT_EQ(run->Out.find_first_of("\x1b\x07\x9b"), std::string::npos) << run->Out;
    EXPECT_NE(run->Out.find(shown), std::string::npos) << run->Out;
  }
  EXPECT_TRUE(HasLine(info.Out, "File: " + shown)) << info.Out;
}

TEST_F(CliStoreView, JsonKeepsTheBytesOfNamesThatAreNoUtf8) {
  ASSERT_NO_FATAL_FAILURE(Issue("plain"));
  const std::string latin1 = "caf\xe9.crt";
  fs::copy_file(InStore("plain.crt"), InStore(latin1));

  const TProcessResult list = Cli({"list", Store(), "--json"});
  ASSERT_EQ(list.Status, 0) << list.Err;
  bool found = false;
  for (const QJsonValue& value : JsonArrayOf(list.Out)) {
    const QJsonObject row = value.toObject();
    const std::string name = row["name"].toString().toStdString();
    SCOPED_TRACE(name);
    if (name == "caf\uFFFD.crt") {
      found = true;
      EXPECT_EQ(row["name_bytes"].toString().toStdString(), Base64(latin1));
    } else {
      EXPECT_FALSE(row.contains("name_bytes"));
    }
  }
  EXPECT_TRUE(found) << list.Out;

  const TProcessResult info = Cli({"info", "--json", InStore(latin1), InStore("plain.crt")});
  ASSERT_EQ(info.Status, 0) << info.Err;
  const QJsonArray entries = JsonArrayOf(info.Out);
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[0].toObject()["path_bytes"].toString().toStdString(), Base64(InStore(latin1)));
  EXPECT_FALSE(entries[1].toObject().contains("path_bytes"));
}

TEST_F(CliStoreView, ListShowsWhenCertificatesExpire) {
  ASSERT_NO_FATAL_FAILURE(Issue("month", {"--days", "30"}));
  const TRun end = OpenSSL("x509 -noout -enddate -in " + Quoted(InStore("month.crt")));
  ASSERT_EQ(end.status, 0) << end.output;
  std::tm notAfterUTC{};
  ASSERT_NE(::strptime(end.output.c_str(), "notAfter=%b %d %H:%M:%S %Y GMT", &notAfterUTC), nullptr)
      << end.output;
  const std::time_t notAfter = ::timegm(&notAfterUTC);
  // The days left as the window counts them, whole days rounded down, at either end of the
  // run: a second may pass while it lists.
  const auto daysText = [&](std::time_t Now) {
    return std::to_string((notAfter - Now) / 86400) + " days";
  };
  const std::string before = daysText(std::time(nullptr));
  const TProcessResult run = Cli({"list", Store()});
  const std::string after = daysText(std::time(nullptr));
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::vector<std::vector<std::string>> rows;
  for (std::size_t start = 0; start < run.Out.size();) {
    const std::size_t end = run.Out.find('\n', start);
    std::vector<std::string> fields;
    const std::string line = run.Out.substr(start, end - start);
    for (std::size_t at = 0;;) {
      const std::size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    rows.push_back(fields);
    start = end == std::string::npos ? run.Out.size() : end + 1;
  }
  ASSERT_EQ(rows.size(), 2u) << run.Out;
  ASSERT_EQ(rows[0].size(), 5u) << run.Out;
  ASSERT_EQ(rows[1].size(), 5u) << run.Out;
  EXPECT_EQ(rows[0][0], "month.crt");
  EXPECT_TRUE(rows[0][4] == before || rows[0][4] == after) << rows[0][4];
  EXPECT_TRUE(before == "30 days" || before == "29 days") << before;
  EXPECT_EQ(rows[1][0], "month.key");
  EXPECT_EQ(rows[1][4], "");
}

// A private key is exposed by the permissions of whatever file holds it, not by its name.
TEST_F(CliStoreView, AKeyInAnyFileIsReportedAndWarnedAbout) {
  ASSERT_NO_FATAL_FAILURE(Issue("pair"));
  const std::string certPEM = ReadFileText(InStore("pair.crt"));
  const std::string keyPEM = ReadFileText(InStore("pair.key"));
  WriteFile(InStore("both.pem"), certPEM + keyPEM);
  WriteFile(InStore("closed.pem"), certPEM + keyPEM);
  WriteFile(InStore("notes.txt"), "the server's key:\n" + keyPEM);
  WriteFile(InStore("open.crt"), certPEM);
  const std::pair<const char*, mode_t> modes[] = {
      {"both.pem", 0644}, {"closed.pem", 0600}, {"notes.txt", 0604}, {"open.crt", 0644}};
  for (const auto& [name, mode] : modes) ASSERT_EQ(::chmod(InStore(name).c_str(), mode), 0);
  struct Case {
    const char* name;
    const char* hasKeyLine;  // or none for a file that is no certificate
    const char* warning;     // or none
  };
  const Case cases[] = {
      {"both.pem", "Has Private Key: True", "Warning: readable by other users (mode 0644)"},
      {"closed.pem", "Has Private Key: True", nullptr},
      {"notes.txt", nullptr, "Warning: readable by other users (mode 0604)"},
      {"open.crt", "Has Private Key: False", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TProcessResult run = Cli({"info", InStore(c.name)});
    EXPECT_EQ(run.Status, 0) << run.Err;
    if (c.hasKeyLine) {
      EXPECT_TRUE(HasLine(run.Out, c.hasKeyLine)) << run.Out;
    }
    EXPECT_EQ(run.Out.find("Warning: readable by other users") != std::string::npos,
              c.warning != nullptr)
        << run.Out;
    if (c.warning) {
      EXPECT_TRUE(HasLine(run.Out, c.warning)) << run.Out;
    }
  }
}

TEST_F(CliStoreView, HelpSaysWhereRelativePathsLead) {
  const TProcessResult run = Cli({"cert", "--help"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  // CLI11 may wrap the help text; the words are compared with blanks squeezed.
  std::string text;
  for (const char c : run.Out)
    if (!(std::isspace(static_cast<unsigned char>(c)) && !text.empty() && text.back() == ' '))
      text += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
  for (const char* words :
       {"CA certificate (PEM) to sign with; a relative path is taken from the current folder, "
        "not the store",
        "CA private key (PEM); a relative path is taken from the current folder, not the store",
        "Certificate file name, in the store folder", "Private key file name, in the store folder",
        "Also write a PKCS#12 bundle of this name, in the store folder"})
    EXPECT_NE(text.find(words), std::string::npos) << words << "\n" << run.Out;
}

// --sign-with and --sign-key are taken from the current folder, whatever the store.
TEST_F(CliStoreView, CAFilesAreTakenFromTheCurrentFolder) {
  ASSERT_EQ(MissingPrograms({"bash", "openssl"}), "");
  const TProcessResult ca =
      Cli({"cert", "--cn", "Relative CA", "--ca", "--ku", "keyCertSign,cRLSign", "--eku", "",
           "--out-cert", "ca.crt", "--out-key", "ca.key", "--store", At("work/cas")});
  ASSERT_EQ(ca.Status, 0) << ca.Err;
  const std::string script =
      "cd \"$1\" && \"$0\" cert --cn leaf.example --dns leaf.example --sign-with cas/ca.crt "
      "--sign-key cas/ca.key --store \"$2\"";
  const TProcessResult run =
      RunProcess("/bin/bash", {"-c", script, VELMORA_CLI_PATH, At("work"), Store()}, Environment());
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TRun verified = OpenSSL("verify -CAfile " + Quoted(At("work/cas/ca.crt")) + " " +
                                Quoted(InStore("certificate.crt")));
  EXPECT_EQ(verified.status, 0) << verified.output;
}

}  // namespace
}  // namespace velmora::test
