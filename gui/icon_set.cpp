#include "gui/icon_set.h"

#include <QFile>
#include <mutex>

// Registers the compiled pictures. The program links tamsel_gui as a static library, where
// nothing else would pull the resource object in; Q_INIT_RESOURCE must be called outside a
// namespace.
static void registerIconResources() {
  Q_INIT_RESOURCE(icons);
}

namespace tamsel {

namespace {

void ensureRegistered() {
  static std::once_flag once;
  std::call_once(once, registerIconResources);
}

bool addPicture(QIcon& icon, std::string_view name, QIcon::State state) {
  const QString path = iconPath(name);
  if (name.empty() || !QFile::exists(path)) return false;
  // Active (hovered) and Selected fall back to Normal; Disabled is derived from it.
  icon.addFile(path, QSize(), QIcon::Normal, state);
  return true;
}

}  // namespace

QString iconPath(std::string_view resourceName) {
  ensureRegistered();
  return QStringLiteral(":/icons/") +
         QString::fromUtf8(resourceName.data(), static_cast<qsizetype>(resourceName.size())) +
         QStringLiteral(".svg");
}

QIcon iconFor(std::string_view resourceName) {
  QIcon icon;
  addPicture(icon, resourceName, QIcon::Off);
  return icon;
}

QIcon buttonIcon(std::string_view normalName, std::string_view pressedName) {
  QIcon icon;
  addPicture(icon, normalName, QIcon::Off);
  addPicture(icon, pressedName, QIcon::On);
  return icon;
}

}  // namespace tamsel
