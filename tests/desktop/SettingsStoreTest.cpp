#include "desktop/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

class SettingsStoreTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        SettingsStore::setLocationForTesting(m_dir.path());
    }
    QString expectedFile() const { return m_dir.path() + QStringLiteral("/Velmora Software/Zantrel.conf"); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SettingsStoreTest, MissingValuesGiveTheFallbacks) {
    const SettingsStore store;
    EXPECT_EQ(store.readString(QStringLiteral("UpgradeIP")), QString());
    EXPECT_EQ(store.readUInt32(QStringLiteral("UpgradePort"), 37777), 37777u);
}

TEST_F(SettingsStoreTest, WrittenValuesComeBackInANewStore) {
    {
        SettingsStore store;
        EXPECT_TRUE(store.writeString(QStringLiteral("UpgradeIP"), QStringLiteral("192.168.1.108")));
        EXPECT_TRUE(store.writeUInt32(QStringLiteral("UpgradePort"), 4294967295u));
        EXPECT_EQ(store.fileName(), expectedFile());
    }
    EXPECT_TRUE(QFile::exists(expectedFile()));
    const SettingsStore again;
    EXPECT_EQ(again.readString(QStringLiteral("UpgradeIP")), QStringLiteral("192.168.1.108"));
    EXPECT_EQ(again.readUInt32(QStringLiteral("UpgradePort"), 37777), 4294967295u);
}

TEST_F(SettingsStoreTest, ValueThatIsNotANumberGivesTheFallback) {
    {
        QSettings raw(expectedFile(), QSettings::IniFormat);
        raw.setValue(QStringLiteral("UpgradePort"), QStringLiteral("port"));
        raw.setValue(QStringLiteral("Negative"), -5);
        raw.setValue(QStringLiteral("Huge"), QStringLiteral("4294967296"));
    }
    const SettingsStore store;
    EXPECT_EQ(store.readUInt32(QStringLiteral("UpgradePort"), 37777), 37777u);
    EXPECT_EQ(store.readUInt32(QStringLiteral("Negative"), 1), 1u);
    EXPECT_EQ(store.readUInt32(QStringLiteral("Huge"), 2), 2u);
}

TEST_F(SettingsStoreTest, FailedWriteIsReportedAndChangesNothing) {
    // A file where the settings folder should be: nothing can be written there.
    QFile blocker(m_dir.path() + QStringLiteral("/blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsStore::setLocationForTesting(blocker.fileName());
    SettingsStore store;
    EXPECT_FALSE(store.writeString(QStringLiteral("UpgradeIP"), QStringLiteral("10.0.0.1")));
    EXPECT_EQ(store.readString(QStringLiteral("UpgradeIP"), QStringLiteral("none")), QStringLiteral("none"));
}
