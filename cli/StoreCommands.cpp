// velmora-cli info and list: the store tab's file information and listing, for any folder.
#include "cli/Command.h"
#include "core/FileNameText.h"
#include "core/Store.h"
#include "core/StoreRelations.h"
#include "core/StoreSetting.h"
#include "crypto/OpenSSLWrapper.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

namespace velmora::cli {

namespace {

// Names and lines are bytes; JSON wants text: bytes that are not UTF-8 show as U+FFFD.
QString JsonText(const std::string& Bytes) { return FileNameCaption(Bytes); }

QJsonArray JsonLines(const std::vector<std::string>& Lines) {
  QJsonArray array;
  for (const std::string& line : Lines) array.append(JsonText(line));
  return array;
}

void PrintLines(const std::vector<std::string>& Lines) {
  for (const std::string& line : Lines) std::printf("%s\n", line.c_str());
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
      const TFileDescription description = DescribeStoreFile(file);
      if (description.Error) status = kExitFailure;
      const std::vector<std::string> related =
          description.Error ? std::vector<std::string>() : DescribeStoreRelations(file);
      if (FJson) {
        QJsonObject entry{{"path", JsonText(file)},
                          {"lines", JsonLines(description.Lines)},
                          {"details", JsonLines(description.Details)},
                          {"related", JsonLines(related)}};
        if (description.Error) entry.insert("error", JsonText(*description.Error));
        all.append(entry);
        continue;
      }
      if (&file != &FFiles.front()) std::printf("\n");
      // The panel's layout: the file's facts, then each further section after a blank line.
      PrintLines(description.Lines);
      for (const std::vector<std::string>* section : {&description.Details, &related}) {
        if (section->empty()) continue;
        std::printf("\n");
        PrintLines(*section);
      }
      if (description.Error) std::fprintf(stderr, "%s.\n", description.Error->c_str());
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
      throw Exception(std::string(e.what()) + ".");  // as the window's error box ends it
    }
    // Sorted by name: the order a folder lists in is no order at all.
    std::sort(entries.begin(), entries.end(),
              [](const TStoreEntry& A, const TStoreEntry& B) { return A.Name < B.Name; });
    if (FJson) {
      QJsonArray rows;
      for (const TStoreEntry& entry : entries) {
        QJsonObject row{{"name", JsonText(entry.Name)}, {"type", TypeText(entry.Kind)}};
        if (entry.Found) {
          row.insert("size", static_cast<qint64>(entry.Size));
          row.insert("modified", QDateTime::fromSecsSinceEpoch(entry.Modified, Qt::UTC)
                                     .toString(Qt::ISODate));
        }
        rows.append(row);
      }
      PrintJson(QJsonDocument(rows));
      return 0;
    }
    const TDateTimeFormat dates;
    for (const TStoreEntry& entry : entries) {
      const std::string size = entry.Found ? SizeText(entry.Size) : "";
      const std::string modified =
          entry.Found ? dates.Text(entry.Modified, true).toStdString() : "";
      std::printf("%s\t%s\t%s\t%s\n", entry.Name.c_str(), TypeText(entry.Kind), size.c_str(),
                  modified.c_str());
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
