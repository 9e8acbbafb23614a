#include "ui/qt_settings_store.h"

#include <QSettings>
#include <QStringList>

namespace lapse::ui {

namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// On Windows the options live in the registry under
// HKEY_CURRENT_USER\Software\APPLICATION, a subkey per section, where the
// Win32 build of the program keeps them too; elsewhere in an INI file.
QSettings SettingsOf(std::string_view application) {
#if defined(_WIN32)
  return QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\") + Text(application),
                   QSettings::NativeFormat);
#else
  return QSettings(QSettings::IniFormat, QSettings::UserScope, Text(application));
#endif
}

// QSettings' INI format escapes a group named "General" on its own, so the
// section name goes in as it is.
QString KeyPath(std::string_view section, std::string_view key) {
  return Text(section) + QLatin1Char('/') + Text(key);
}

}  // namespace

std::string QtSettingsStore::Get(std::string_view application, std::string_view section,
                                 std::string_view key, std::string_view defaultValue) {
  const QSettings settings = SettingsOf(application);
  const QVariant value = settings.value(KeyPath(section, key));
  if (!value.isValid()) {
    return std::string(defaultValue);
  }
  // A hand-written value with an unquoted comma reads as a list.
  if (value.metaType().id() == QMetaType::QStringList) {
    return value.toStringList().join(QLatin1Char(',')).toStdString();
  }
  return value.toString().toStdString();
}

void QtSettingsStore::Set(std::string_view application, std::string_view section,
                          std::string_view key, std::string_view value) {
  QSettings settings = SettingsOf(application);
  settings.setValue(KeyPath(section, key), Text(value));
  settings.sync();
  if (settings.status() != QSettings::NoError) {
    writeFailed_ = true;
  }
}

QString QtSettingsStore::Location(std::string_view application) {
  return SettingsOf(application).fileName();
}

}  // namespace lapse::ui
