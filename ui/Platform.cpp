#include "ui/Platform.h"

#include "core/PlainWords.h"
#include "core/StoreSetting.h"
#include "crypto/Exception.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QUrl>

#include <exception>
#include <sstream>
#include <vector>

namespace velmora {

namespace {

std::vector<std::string> SplitAt(const std::string& Text, char Separator) {
  std::vector<std::string> pieces;
  std::string piece;
  std::istringstream in(Text);
  while (std::getline(in, piece, Separator)) pieces.push_back(piece);
  if (!Text.empty() && Text.back() == Separator) pieces.emplace_back();
  return pieces;
}

std::string ToQtPatterns(const std::string& Patterns) {
  std::string result;
  for (const std::string& pattern : SplitAt(Patterns, ';')) {
    if (pattern.empty()) continue;
    if (!result.empty()) result += ' ';
    result += pattern == "*.*" ? "*" : pattern;
  }
  return result.empty() ? "*" : result;
}

QString ToQt(const std::string& Text) { return QString::fromStdString(Text); }

// Our texts break lines with "\n"; a stray CR before it would show as a glyph.
QString BoxText(const std::string& Text) {
  QString text = ToQt(Text);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return text;
}

QWidget* Owner() { return QApplication::activeWindow(); }

// A box or dialog opened during a long command would otherwise show the hourglass too.
class TNormalCursorWhileModal {
 public:
  TNormalCursorWhileModal() : FActive(QApplication::overrideCursor() != nullptr) {
    if (FActive) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~TNormalCursorWhileModal() {
    if (FActive) QApplication::restoreOverrideCursor();
  }
  TNormalCursorWhileModal(const TNormalCursorWhileModal&) = delete;
  TNormalCursorWhileModal& operator=(const TNormalCursorWhileModal&) = delete;

 private:
  bool FActive;
};

int RunBox(QMessageBox& Box) {
  TNormalCursorWhileModal cursor;
  return Box.exec();
}

}  // namespace

std::string ToQtFilter(const std::string& Filter) {
  const std::vector<std::string> parts = SplitAt(Filter, '|');
  std::string result;
  for (std::size_t i = 0; i < parts.size(); i += 2) {
    if (parts[i].empty() && i + 1 >= parts.size()) break;
    if (!result.empty()) result += ";;";
    result += parts[i] + " (" + ToQtPatterns(i + 1 < parts.size() ? parts[i + 1] : "") + ")";
  }
  return result;
}

void RunGuarded(IPlatform& Platform, const std::function<void()>& Handler) noexcept {
  try {
    try {
      Handler();
    } catch (const std::exception& e) {
      Platform.ShowErrorBox(WithFullStop(e.what()), CauseOf(e));
    } catch (...) {
      Platform.ShowErrorBox("An unexpected error occurred.");
    }
  } catch (...) {
    // Not even the box could be shown (out of memory); keep the event loop alive regardless.
  }
}

// Only a box saying that a CA certificate file held no certificate makes the words look into
// that file: a bounded read of a file the command has just read whole.
std::string IPlatform::InPlainWords(const std::string& Text, const TFailureCause& Cause) const {
  return WithPlainWords(Text, Cause, ObservePlainWordsFacts(Cause, FPlainWordsCACertFile));
}

void IPlatform::ShowMessage(const std::string& Text, const TFailureCause& Cause) {
  ShowMessageBox(InPlainWords(Text, Cause));
}

void IPlatform::ShowErrorBox(const std::string& Text, const TFailureCause& Cause) {
  ShowStopBox(InPlainWords(Text, Cause));
}

void QtPlatform::ShowMessageBox(const std::string& Text) {
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, BoxText(Text), QMessageBox::Ok, Owner());
  RunBox(box);
}

bool QtPlatform::ConfirmYesNo(const std::string& Text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), BoxText(Text),
                  QMessageBox::Yes | QMessageBox::No, Owner());
  box.setDefaultButton(QMessageBox::Yes);
  return RunBox(box) == QMessageBox::Yes;
}

std::optional<std::string> QtPlatform::AskPassword(const std::string& Text) {
  bool accepted = false;
  const QString password =
      QInputDialog::getText(Owner(), kApplicationTitle, QString::fromStdString(Text),
                            QLineEdit::Password, QString(), &accepted);
  if (!accepted) return std::nullopt;
  return password.toStdString();
}

std::optional<TCRLChoice> QtPlatform::AskCRLSigning(const TCRLDialogOptions& Options) {
  QDialog dialog(Owner());
  dialog.setObjectName(QStringLiteral("dlgCRLSigning"));
  dialog.setWindowTitle(QString::fromStdString(Options.Caption));
  auto* form = new QFormLayout(&dialog);
  auto* reason = new QComboBox(&dialog);
  reason->setObjectName(QStringLiteral("cbRevocationReason"));
  for (const TRevocationReason each : RevocationReasons())
    reason->addItem(QString::fromLatin1(RevocationReasonName(each)), static_cast<int>(each));
  if (Options.AskReason) form->addRow(QStringLiteral("Reason:"), reason);
  reason->setVisible(Options.AskReason);
  auto* days = new QSpinBox(&dialog);
  days->setObjectName(QStringLiteral("spnCRLDays"));
  days->setRange(1, kMaxCRLDays);
  days->setValue(kDefaultCRLDays);
  form->addRow(QStringLiteral("CRL valid for (days):"), days);
  auto* password = new QLineEdit(&dialog);
  password->setObjectName(QStringLiteral("edtCRLCAPassword"));
  password->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral("CA key password:"), password);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  TCRLChoice choice;
  choice.Reason = static_cast<TRevocationReason>(reason->currentData().toInt());
  choice.Days = days->value();
  choice.CAKeyPassword = password->text().toStdString();
  return choice;
}

void QtPlatform::ShowStopBox(const std::string& Text) {
  QMessageBox box(QMessageBox::Critical, kApplicationTitle, BoxText(Text), QMessageBox::Ok,
                  Owner());
  RunBox(box);
}

std::optional<std::string> QtPlatform::RunFileDialog(bool Save, const TFileDialogOptions& Options,
                                                     TDialogMemory& Memory) {
  QFileDialog dialog(Owner(), ToQt(Options.Title), ToQt(Options.InitialDir));
  dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QStringList filters =
      ToQt(ToQtFilter(Options.Filter)).split(QLatin1String(";;"), Qt::SkipEmptyParts);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (Memory.FilterIndex >= 0 && Memory.FilterIndex < filters.size())
    dialog.selectNameFilter(filters[Memory.FilterIndex]);
  if (Save && !Options.DefaultExt.empty()) dialog.setDefaultSuffix(ToQt(Options.DefaultExt));
  const std::string& fileName = Options.FileName ? *Options.FileName : Memory.FileName;
  if (!fileName.empty()) dialog.selectFile(ToQt(fileName));

  TNormalCursorWhileModal cursor;
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString path = dialog.selectedFiles().constFirst();
  Memory.FilterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
  Memory.FileName = QFileInfo(path).fileName().toStdString();
  return path.toStdString();
}

std::optional<std::string> QtPlatform::OpenFileDialog(const TFileDialogOptions& Options) {
  return RunFileDialog(false, Options, FOpenMemory);
}

std::optional<std::string> QtPlatform::SaveFileDialog(const TFileDialogOptions& Options) {
  return RunFileDialog(true, Options, FSaveMemory);
}

std::optional<std::string> QtPlatform::FolderDialog(const std::string& Caption,
                                                    const std::string& InitialDir) {
  TNormalCursorWhileModal cursor;
  const QString folder =
      QFileDialog::getExistingDirectory(Owner(), ToQt(Caption), ToQt(InitialDir));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

// A file name is bytes and need not be UTF-8; percent-encoded in the URL it reaches the
// desktop byte for byte, where a conversion to text would have garbled it.
bool QtPlatform::OpenInDesktop(const std::string& Path) {
  QByteArray path = QByteArray::fromStdString(Path);
  if (!path.startsWith('/')) path.prepend(QFile::encodeName(QDir::currentPath()) + '/');
  return QDesktopServices::openUrl(
      QUrl::fromEncoded("file://" + path.toPercentEncoding("/"), QUrl::StrictMode));
}

void QtPlatform::BeginBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtPlatform::EndBusyCursor() noexcept { QApplication::restoreOverrideCursor(); }

std::optional<std::string> QtPlatform::ReadStoreDirSetting() {
  return velmora::ReadStoreDirSetting();
}

void QtPlatform::WriteStoreDirSetting(const std::string& Value) {
  velmora::WriteStoreDirSetting(Value);
}

std::optional<TWindowPlacement> QtPlatform::ReadWindowPlacementSetting() {
  return velmora::ReadWindowPlacementSetting();
}

void QtPlatform::WriteWindowPlacementSetting(const TWindowPlacement& Placement) {
  velmora::WriteWindowPlacementSetting(Placement);
}

std::string QtPlatform::ApplicationDir() { return velmora::ApplicationDir(); }

std::string QtPlatform::UserDataDir() { return velmora::UserDataDir(); }

}  // namespace velmora
