#pragma once

#include <QString>

#include <cstdint>

// A program's stored settings: one group of named values under the organisation "Velmora
// Software" and the program's own application name, "Zantrel" for the upgrade tool unless told
// otherwise (on Linux a file in the user's configuration folder). Reading never fails: a missing or
// unreadable value gives the fallback. Writing reports success, which callers may ignore.

namespace desktop {

class SettingsStore {
public:
    explicit SettingsStore(QString application = QStringLiteral("Zantrel"));

    QString readString(const QString& name, const QString& fallback = {}) const;
    // A value that is missing or not an unsigned 32-bit number gives the fallback.
    std::uint32_t readUInt32(const QString& name, std::uint32_t fallback) const;

    bool writeString(const QString& name, const QString& value);
    bool writeUInt32(const QString& name, std::uint32_t value);

    // The file the settings live in.
    QString fileName() const;

    // Moves every settings store of this process to a folder of the caller's choosing (for tests;
    // the file is then <folder>/Velmora Software/<application>.conf).
    static void setLocationForTesting(const QString& folder);

private:
    QString m_application;
};

} // namespace desktop
