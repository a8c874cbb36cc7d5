// The dialog text translator over language files written by the tests.

#include "discovery/DialogTextTranslator.h"

#include "desktop/TemplateDialog.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

class DialogTextTranslatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    void TearDown() override { translator.setLocation({}, {}); }

    // Writes the language file and points the translator at it.
    void useFile(const QByteArray& contents) {
        QFile file(folder.filePath(QStringLiteral("lang.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        translator.setLocation((folder.path() + u'/').toStdString(), "lang.ini");
    }

    QTemporaryDir folder;
    DialogTextTranslator& translator = DialogTextTranslator::instance();
};

DialogTemplate sampleDialog() {
    return DialogTemplate{
        .id = 132,
        .caption = "Select Camera Type",
        .width = 174,
        .height = 100,
        .controls =
            {
                {1070, ControlKind::GroupBox, "", 5, 5, 160, 60},
                {kNoId, ControlKind::Static, "Normal Camera", 10, 10, 60, 8},
                {1089, ControlKind::RadioButton, "", 10, 20, 10, 8, Style::Group},
                {1004, ControlKind::Edit, "Normal Camera", 10, 30, 60, 12},
                {1017, ControlKind::IpAddress, "1.2.3.4", 10, 44, 60, 12},
                {IDOK, ControlKind::DefPushButton, "OK", 80, 80, 40, 14},
            },
    };
}

} // namespace

TEST_F(DialogTextTranslatorTest, ProgramStateHasNoLocationAndChangesNothing) {
    EXPECT_TRUE(translator.directory().empty());
    EXPECT_TRUE(translator.fileName().empty());
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QStringLiteral("OK"));
    TemplateDialog dialog(sampleDialog());
    translator.translate(dialog);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Camera Type"));
    EXPECT_EQ(dialog.itemText(IDOK), QStringLiteral("OK"));
}

TEST_F(DialogTextTranslatorTest, KeysAndSectionMatchWithoutRegardToCase) {
    useFile("[other]\nOK=Wrong section\n"
            "[sTrInG]\n"
            "ok = Bien\n"
            "NORMAL CAMERA=Caméra normale\n"
            "Select Camera Type=Type de caméra\n");
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QStringLiteral("Bien"));
    EXPECT_EQ(translator.lookup(QStringLiteral("Normal Camera")), QString::fromUtf8("Caméra normale"));
    EXPECT_EQ(translator.lookup(QStringLiteral("Speed Dome")), QStringLiteral("Speed Dome"));
}

TEST_F(DialogTextTranslatorTest, MissingFileSectionKeyOrValueKeepTheText) {
    translator.setLocation((folder.path() + u'/').toStdString(), "absent.ini");
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QStringLiteral("OK"));
    useFile("[Other]\nOK=Nope\n");
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QStringLiteral("OK"));
    useFile("[String]\nOK=\nCancel=Annuler\n");
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QStringLiteral("OK"));
    EXPECT_EQ(translator.lookup(QStringLiteral("Cancel")), QStringLiteral("Annuler"));
}

TEST_F(DialogTextTranslatorTest, PathIsDirectoryAndFileNameWithNothingBetween) {
    useFile("[String]\nOK=Bien\n");
    // Without the trailing separator the file looked for is "<folder>lang.ini", which is absent.
    translator.setLocation(folder.path().toStdString(), "lang.ini");
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QStringLiteral("OK"));
    translator.setLocation(folder.path().toStdString(), "/lang.ini");
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QStringLiteral("Bien"));
}

TEST_F(DialogTextTranslatorTest, LongValueIsCutTo299Characters) {
    const QByteArray value(400, 'v');
    useFile("[String]\nOK=" + value + "\nExact=" + QByteArray(299, 'e') + "\n");
    EXPECT_EQ(translator.lookup(QStringLiteral("OK")), QString(299, u'v'));
    EXPECT_EQ(translator.lookup(QStringLiteral("Exact")), QString(299, u'e'));
}

TEST_F(DialogTextTranslatorTest, TranslatesCaptionAndControlsButNeverEditFields) {
    useFile("[String]\n"
            "Select Camera Type=Kameratyp\n"
            "Normal Camera=Normale Kamera\n"
            "OK=Gut\n"
            "1.2.3.4=5.6.7.8\n"
            "=Leer\n");
    TemplateDialog dialog(sampleDialog());
    translator.translate(dialog);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Kameratyp"));
    EXPECT_EQ(dialog.controls()[1]->property("text").toString(), QStringLiteral("Normale Kamera"));
    EXPECT_EQ(dialog.itemText(IDOK), QStringLiteral("Gut"));
    // The radio button and the group box had empty texts and keep them.
    EXPECT_EQ(dialog.itemText(1089), QString());
    EXPECT_EQ(dialog.itemText(1070), QString());
    // The edit box and the IP address box hold the user's data.
    EXPECT_EQ(dialog.itemText(1004), QStringLiteral("Normal Camera"));
    EXPECT_EQ(dialog.itemText(1017), QStringLiteral("1.2.3.4"));
}
