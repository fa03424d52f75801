// The narrow copy of a password edit's text, for a TSecretText to take over and wipe when
// the command is done with it. Qt's own UTF-8 copy is wiped here at once.
#pragma once

#include "crypto/SecretText.h"

#include <QByteArray>
#include <QLineEdit>

#include <string>

namespace velmora {

inline std::string PasswordBytes(const QString& Text) {
  QByteArray utf8 = Text.toUtf8();
  std::string narrow(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  WipeBytes(utf8.data(), static_cast<std::size_t>(utf8.size()));
  return narrow;
}

inline std::string PasswordBytes(const QLineEdit* Edit) { return PasswordBytes(Edit->text()); }

}  // namespace velmora
