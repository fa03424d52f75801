#include "core/WindowSetting.h"

#include "core/Defaults.h"
#include "core/StoreSetting.h"

#include <QRect>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace velmora {

namespace {

QString KeyName() { return QStringLiteral("WindowGeometry"); }

}  // namespace

// Kept as a rectangle ("@Rect(x y width height)" in the file), which a person editing the file
// can still read.
std::optional<TWindowPlacement> ReadWindowPlacementSetting() {
  if (IrregularSettingsFile()) return std::nullopt;
  QSettings settings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kProgramName));
  const QVariant value = settings.value(KeyName());
  if (value.typeId() != QMetaType::QRect) return std::nullopt;
  const QRect rect = value.toRect();
  if (rect.width() <= 0 || rect.height() <= 0) return std::nullopt;
  return TWindowPlacement{rect.x(), rect.y(), rect.width(), rect.height()};
}

void WriteWindowPlacementSetting(const TWindowPlacement& Placement) {
  if (IrregularSettingsFile()) return;  // like any other failure to save
  QSettings settings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kProgramName));
  settings.setValue(KeyName(), QRect(Placement.X, Placement.Y, Placement.Width, Placement.Height));
  settings.sync();
}

}  // namespace velmora
