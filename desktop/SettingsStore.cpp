#include "desktop/SettingsStore.h"

#include "desktop/NumberText.h"

#include <QSettings>

namespace desktop {

namespace {
const QString kOrganisation = QStringLiteral("Velmora Software");
} // namespace

SettingsStore::SettingsStore(QString application) : m_application(std::move(application)) {}

QString SettingsStore::readString(const QString& name, const QString& fallback) const {
    const QVariant value = QSettings(kOrganisation, m_application).value(name);
    if (!value.isValid() || !value.canConvert<QString>()) {
        return fallback;
    }
    return value.toString();
}

std::uint32_t SettingsStore::readUInt32(const QString& name, std::uint32_t fallback) const {
    // QVariant's own conversion wraps negative numbers and lets oversized text through.
    const QVariant value = QSettings(kOrganisation, m_application).value(name);
    return parseUnsigned32(value.toString()).value_or(fallback);
}

bool SettingsStore::writeString(const QString& name, const QString& value) {
    QSettings settings(kOrganisation, m_application);
    settings.setValue(name, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool SettingsStore::writeUInt32(const QString& name, std::uint32_t value) {
    QSettings settings(kOrganisation, m_application);
    settings.setValue(name, static_cast<uint>(value));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString SettingsStore::fileName() const {
    return QSettings(kOrganisation, m_application).fileName();
}

void SettingsStore::setLocationForTesting(const QString& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
}

} // namespace desktop
