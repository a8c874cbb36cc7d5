// The camera type dialog: rows shown for the channel count, the window shortened for the rest,
// the types read back on OK.

#include "discovery/CameraTypeDialog.h"
#include "discovery/DialogTextTranslator.h"

#include "desktop/DialogUnits.h"

#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

QRadioButton* radio(CameraTypeDialog& dialog, int id) {
    return dialog.itemAs<QRadioButton>(id);
}

} // namespace

TEST(CameraTypeDialog, SixteenChannelsShowEveryRowAtFullSize) {
    CameraTypeDialog dialog(16);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Camera Type"));
    EXPECT_EQ(dialog.size(),
              QSize(dluToPixelsX(174, dialog.baseUnits()), dluToPixelsY(271, dialog.baseUnits())));
    for (int row = 0; row < 16; ++row) {
        EXPECT_TRUE(dialog.isItemShown(CameraTypeDialog::channelId(row)));
        EXPECT_EQ(dialog.itemText(CameraTypeDialog::channelId(row)), QString::number(row + 1));
        EXPECT_TRUE(radio(dialog, CameraTypeDialog::normalId(row))->isChecked());
        EXPECT_FALSE(radio(dialog, CameraTypeDialog::speedDomeId(row))->isChecked());
        EXPECT_TRUE(radio(dialog, CameraTypeDialog::normalId(row))->text().isEmpty());
    }
    EXPECT_EQ(1071, CameraTypeDialog::channelId(0));
    EXPECT_EQ(1089, CameraTypeDialog::normalId(0));
    EXPECT_EQ(1120, CameraTypeDialog::speedDomeId(15));
}

TEST(CameraTypeDialog, FourChannelsHideTwelveRowsAndShortenTheWindowBy240Pixels) {
    CameraTypeDialog full(16);
    full.show();
    CameraTypeDialog four(4);
    four.show();
    EXPECT_EQ(full.height() - four.height(), 240);
    EXPECT_EQ(full.width(), four.width());
    EXPECT_EQ(full.item(CameraTypeDialog::IDC_GROUP)->height() -
                  four.item(CameraTypeDialog::IDC_GROUP)->height(),
              240);
    for (int id : {IDOK, IDCANCEL}) {
        EXPECT_EQ(full.item(id)->y() - four.item(id)->y(), 240);
        // The buttons stay below the last row shown and inside the window.
        EXPECT_GT(four.item(id)->y(), four.item(CameraTypeDialog::speedDomeId(3))->geometry().bottom());
        EXPECT_LE(four.item(id)->geometry().bottom(), four.height());
    }
    for (int row = 0; row < 16; ++row) {
        const bool shown = row < 4;
        EXPECT_EQ(four.isItemShown(CameraTypeDialog::channelId(row)), shown) << row;
        EXPECT_EQ(four.isItemShown(CameraTypeDialog::normalId(row)), shown) << row;
        EXPECT_EQ(four.isItemShown(CameraTypeDialog::speedDomeId(row)), shown) << row;
    }

    CameraTypeDialog one(1);
    one.show();
    EXPECT_EQ(full.height() - one.height(), 300);
}

TEST(CameraTypeDialog, ShowsTheGivenTypesAndReadsTheChoiceBackOnOk) {
    CameraTypeDialog::CameraTypes types{};
    types[1] = CameraTypeDialog::kSpeedDome;
    types[2] = CameraTypeDialog::kSpeedDome;
    types[5] = CameraTypeDialog::kSpeedDome; // beyond the count: kept as given
    CameraTypeDialog dialog(3, types);
    dialog.show();
    EXPECT_TRUE(radio(dialog, CameraTypeDialog::normalId(0))->isChecked());
    EXPECT_TRUE(radio(dialog, CameraTypeDialog::speedDomeId(1))->isChecked());
    EXPECT_TRUE(radio(dialog, CameraTypeDialog::speedDomeId(2))->isChecked());

    // Each row's pair excludes only itself.
    radio(dialog, CameraTypeDialog::speedDomeId(0))->click();
    radio(dialog, CameraTypeDialog::normalId(2))->click();
    EXPECT_FALSE(radio(dialog, CameraTypeDialog::normalId(0))->isChecked());
    EXPECT_TRUE(radio(dialog, CameraTypeDialog::speedDomeId(1))->isChecked());
    dialog.itemAs<QPushButton>(IDOK)->click();
    EXPECT_EQ(dialog.result(), IDOK);
    CameraTypeDialog::CameraTypes expected{};
    expected[0] = 1;
    expected[1] = 1;
    expected[5] = 1;
    EXPECT_EQ(dialog.cameraTypes(), expected);
}

TEST(CameraTypeDialog, CancelLeavesTheTypesAsGiven) {
    CameraTypeDialog::CameraTypes types{};
    types[0] = 1;
    CameraTypeDialog dialog(2, types);
    dialog.show();
    radio(dialog, CameraTypeDialog::normalId(0))->click();
    radio(dialog, CameraTypeDialog::speedDomeId(1))->click();
    dialog.itemAs<QPushButton>(IDCANCEL)->click();
    EXPECT_EQ(dialog.result(), IDCANCEL);
    EXPECT_EQ(dialog.cameraTypes(), types);
}

TEST(CameraTypeDialog, ItsTextsAreTranslatedWhenItOpens) {
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("lang.ini")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[String]\nSelect Camera Type=Kameratyp\nSpeed Dome=Kuppel\n3=drei\n");
    file.close();
    DialogTextTranslator::instance().setLocation((folder.path() + u'/').toStdString(), "lang.ini");
    CameraTypeDialog dialog(4);
    dialog.show();
    DialogTextTranslator::instance().setLocation({}, {});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Kameratyp"));
    EXPECT_EQ(dialog.itemText(CameraTypeDialog::channelId(2)), QStringLiteral("drei"));
    bool found = false;
    for (QWidget* control : dialog.controls()) {
        found = found || control->property("text").toString() == QStringLiteral("Kuppel");
    }
    EXPECT_TRUE(found);
}
