// velmora-cli info and list: the store tab's file information and listing, for any folder.
#include "cli/Command.h"
#include "core/FailureText.h"
#include "core/FileNameText.h"
#include "core/NameOrder.h"
#include "core/Store.h"
#include "core/StoreExpiry.h"
#include "core/StorePaths.h"
#include "core/StoreRelations.h"
#include "core/StoreRevocation.h"
#include "core/StoreSetting.h"
#include "core/Utf8.h"
#include "crypto/Exception.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

namespace velmora::cli {

namespace {

// Names and lines are bytes; JSON wants text: bytes that are not UTF-8 show as U+FFFD.
QString JsonText(const std::string& Bytes) { return FileNameCaption(Bytes); }

bool IsUtf8(const std::string& Bytes) {
  for (std::size_t at = 0; at < Bytes.size();) {
    const std::size_t length = Utf8SequenceLength(std::string_view(Bytes).substr(at));
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// A name as JSON carries it: Key the text to show, and, when the name is no UTF-8 and that
// text therefore lost bytes, Key + "_bytes" with the name's exact bytes in base64, which a
// script needs to reach the file.
void InsertName(QJsonObject& Object, const QString& Key, const std::string& Name) {
  Object.insert(Key, JsonText(Name));
  if (!IsUtf8(Name))
    Object.insert(Key + QStringLiteral("_bytes"),
                  QString::fromLatin1(
                      QByteArray(Name.data(), static_cast<qsizetype>(Name.size())).toBase64()));
}

// Text as a terminal may be given it: a file name or a certificate's value may hold control
// characters (an escape sequence could rewrite the screen or the window title), and bytes
// that are no UTF-8 could be read as such. Those are written as escapes; everything else,
// non-ASCII letters included, as itself.
std::string TerminalText(const std::string& Bytes) {
  std::string text;
  char escape[12];
  for (std::size_t at = 0; at < Bytes.size();) {
    char32_t point = 0;
    const std::size_t length = Utf8SequenceLength(std::string_view(Bytes).substr(at), &point);
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(Bytes[at]));
      text += escape;
      ++at;
      continue;
    }
    if (point < 0x20 || (point >= 0x7F && point < 0xA0)) {
      std::snprintf(escape, sizeof escape, point < 0x80 ? "\\x%02x" : "\\u%04x",
                    static_cast<unsigned>(point));
      text += escape;
    } else {
      text.append(Bytes, at, length);
    }
    at += length;
  }
  return text;
}

QJsonArray JsonLines(const std::vector<std::string>& Lines) {
  QJsonArray array;
  for (const std::string& line : Lines) array.append(JsonText(line));
  return array;
}

void PrintLines(const std::vector<std::string>& Lines) {
  for (const std::string& line : Lines) std::printf("%s\n", TerminalText(line).c_str());
}

QString JsonDate(std::time_t When) {
  return QDateTime::fromSecsSinceEpoch(When, Qt::UTC).toString(Qt::ISODate);
}

// A certificate that a CRL of its store lists; the keys are left out for every other file, so
// the objects of a store without revocations stay as they were.
void InsertRevocation(QJsonObject& Object, const std::optional<TRevokedEntry>& Entry) {
  if (!Entry) return;
  Object.insert("revoked", true);
  Object.insert("reason", QString::fromStdString(Entry->ReasonText));
  if (Entry->Date) Object.insert("revocation_date", JsonDate(*Entry->Date));
}

void PrintJson(const QJsonDocument& Document) {
  std::fputs(Document.toJson(QJsonDocument::Indented).constData(), stdout);
}

class TInfoCommand : public TCommand {
 public:
  const char* Name() const override { return "info"; }
  const char* Description() const override { return "Describe certificate, key and bundle files"; }

  void DefineOptions(CLI::App& Command) override {
    Command.add_option("files", FFiles, "Files to describe")->required();
    Command.add_flag("--json", FJson, "Print JSON");
  }

  int Execute() override {
    int status = 0;
    QJsonArray all;
    for (const std::string& file : FFiles) {
      const TFileDescription description =
          DescribeStoreFile(file, std::time(nullptr), TWording::CommandLine);
      if (description.Error || description.Problem) status = kExitFailure;
      const std::vector<std::string> related =
          description.Error ? std::vector<std::string>() : DescribeStoreRelations(file);
      if (FJson) {
        QJsonObject entry{{"lines", JsonLines(description.Lines)},
                          {"details", JsonLines(description.Details)},
                          {"related", JsonLines(related)}};
        InsertName(entry, QStringLiteral("path"), file);
        if (StoreFileKind(FileNamePart(file)) == TStoreFileKind::Certificate && !description.Error)
          InsertRevocation(entry, description.Revocation);
        if (description.Error)
          entry.insert("error", JsonText(*description.Error));
        else if (description.Problem)
          entry.insert("error", JsonText(*description.Problem));
        all.append(entry);
        continue;
      }
      if (&file != &FFiles.front()) std::printf("\n");
      if (description.Error) {
        // A file that is not there has no facts to show; its lines would only say "-1 bytes".
        std::fflush(stdout);
        std::fprintf(stderr, "%s.\n", TerminalText(*description.Error).c_str());
        continue;
      }
      // The panel's layout: the file's facts, then each further section after a blank line.
      PrintLines(description.Lines);
      for (const std::vector<std::string>* section : {&description.Details, &related}) {
        if (section->empty()) continue;
        std::printf("\n");
        PrintLines(*section);
      }
      if (description.Problem) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s.\n", TerminalText(file).c_str(),
                     TerminalText(*description.Problem).c_str());
      }
    }
    if (FJson) PrintJson(QJsonDocument(all));
    return status;
  }

 private:
  std::vector<std::string> FFiles;
  bool FJson = false;
};

class TListCommand : public TCommand {
 public:
  const char* Name() const override { return "list"; }
  const char* Description() const override {
    return "List the certificates, keys and bundles of a store folder";
  }

  void DefineOptions(CLI::App& Command) override {
    Command.add_option("dir", FDir, "Folder to list (default: the store)");
    Command.add_flag("--json", FJson, "Print JSON");
  }

  int Execute() override {
    const std::string dir = FDir.empty() ? EffectiveStoreDir() : FDir;
    std::vector<TStoreEntry> entries;
    try {
      entries = ReadStoreEntries(dir);
    } catch (const Exception& e) {
      throw Exception(WithFullStop(e.what()), e.Cause());  // as the window's error box ends it
    }
    // Sorted by name as the window lists them: the order a folder lists in is no order at all.
    std::sort(entries.begin(), entries.end(), [](const TStoreEntry& A, const TStoreEntry& B) {
      return NaturalNameLess(A.Name, B.Name);
    });
    // The window's Expires column: when each certificate's validity ends.
    const std::vector<std::optional<std::time_t>> expiry = ReadCertificateExpiry(dir, entries);
    const std::vector<std::optional<TRevokedEntry>> revoked = ReadRevocations(dir, entries);
    const std::time_t now = std::time(nullptr);
    if (FJson) {
      QJsonArray rows;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        const TStoreEntry& entry = entries[i];
        QJsonObject row{{"type", TypeText(entry.Kind)}};
        InsertName(row, QStringLiteral("name"), entry.Name);
        if (entry.Found) {
          row.insert("size", static_cast<qint64>(entry.Size));
          row.insert("modified",
                     QDateTime::fromSecsSinceEpoch(entry.Modified, Qt::UTC).toString(Qt::ISODate));
        }
        if (expiry[i]) {
          row.insert("expires",
                     QDateTime::fromSecsSinceEpoch(*expiry[i], Qt::UTC).toString(Qt::ISODate));
          row.insert("days_left", static_cast<qint64>(DaysLeft(*expiry[i], now)));
        }
        if (entry.Kind == TStoreFileKind::Certificate) InsertRevocation(row, revoked[i]);
        rows.append(row);
      }
      PrintJson(QJsonDocument(rows));
      return 0;
    }
    const TDateTimeFormat dates;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const TStoreEntry& entry = entries[i];
      const std::string size = entry.Found ? SizeText(entry.Size) : "";
      const std::string modified =
          entry.Found ? dates.Text(entry.Modified, true).toStdString() : "";
      const std::string expires = revoked[i]  ? std::string("revoked")
                                  : expiry[i] ? ExpiresText(*expiry[i], now)
                                              : "";
      std::printf("%s\t%s\t%s\t%s\t%s\n", TerminalText(entry.Name).c_str(), TypeText(entry.Kind),
                  size.c_str(), modified.c_str(), expires.c_str());
    }
    return 0;
  }

 private:
  std::string FDir;
  bool FJson = false;
};

}  // namespace

std::unique_ptr<TCommand> MakeInfoCommand() { return std::make_unique<TInfoCommand>(); }
std::unique_ptr<TCommand> MakeListCommand() { return std::make_unique<TListCommand>(); }

}  // namespace velmora::cli
