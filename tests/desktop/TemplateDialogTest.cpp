#include "desktop/TemplateDialog.h"
#include "desktop/DialogUnits.h"
#include "desktop/IpAddressEdit.h"
#include "desktop/ListViewControl.h"
#include "desktop/TreeViewControl.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

DialogTemplate sampleTemplate() {
    return DialogTemplate{
        .id = 7,
        .caption = "Sample",
        .width = 246,
        .height = 93,
        .controls =
            {
                {1, ControlKind::DefPushButton, "Go", 9, 9, 49, 14, Style::Disabled},
                {1007, ControlKind::Edit, "", 64, 9, 175, 14},
                {1001, ControlKind::IpAddress, "", 9, 28, 74, 14},
                {1008, ControlKind::Edit, "", 86, 28, 33, 14, Style::Number},
                {1013, ControlKind::Edit, "", 122, 28, 31, 14, Style::Hidden | Style::Password},
                {1009, ControlKind::Static, "Status", 10, 44, 176, 8},
                {1006, ControlKind::Progress, "", 9, 56, 230, 14},
                {1015, ControlKind::PushButton, "Act", 9, 73, 32, 14},
                {1015, ControlKind::PushButton, "Twin", 42, 73, 32, 14},
                {kNoId, ControlKind::GroupBox, "", 2, 0, 240, 90},
            },
        .minimizeBox = true,
    };
}

// Records the commands the dialog's buttons and keys produce.
class CommandDialog : public TemplateDialog {
public:
    using TemplateDialog::TemplateDialog;
    std::vector<int> commands;
    int initCount = 0;

protected:
    void onInitDialog() override {
        ++initCount;
        TemplateDialog::onInitDialog();
    }
    void onCommand(int id) override {
        commands.push_back(id);
        TemplateDialog::onCommand(id);
    }
};

// A main window that hides itself on a close request instead of ending.
class HidingDialog : public TemplateDialog {
public:
    using TemplateDialog::TemplateDialog;

protected:
    void onClose() override { hide(); }
};

} // namespace

TEST(DialogUnits, ConvertWithRoundingHalfAwayFromZero) {
    const DialogBaseUnits units{7, 13};
    // 9*7/4 = 15.75, 9*13/8 = 14.625, 49*7/4 = 85.75, 14*13/8 = 22.75
    EXPECT_EQ(dluToPixels(QRect(9, 9, 49, 14), units), QRect(16, 15, 86, 23));
    // 246*7/4 = 430.5 rounds up; 93*13/8 = 151.125 rounds down
    EXPECT_EQ(dluToPixelsX(246, units), 431);
    EXPECT_EQ(dluToPixelsY(93, units), 151);
    EXPECT_EQ(dluToPixelsX(2, DialogBaseUnits{6, 12}), 3);
    EXPECT_EQ(dluToPixelsX(1, DialogBaseUnits{6, 12}), 2);   // 1.5
    EXPECT_EQ(dluToPixelsY(-4, DialogBaseUnits{6, 13}), -7); // -6.5
    EXPECT_EQ(dluToPixelsX(0, units), 0);
}

TEST(DialogUnits, BaseUnitsComeFromTheLettersAndHeightOfTheFont) {
    const QFont font(QStringLiteral("MS Sans Serif"), 8);
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const DialogBaseUnits units = baseUnitsFor(font);
    EXPECT_EQ(units.cx, (letters / 26 + 1) / 2);
    EXPECT_EQ(units.cy, metrics.height());
    // The fallback font of an 8-point dialog font is about 7 by 13 pixels; far off means the
    // metrics came from something else.
    EXPECT_GE(units.cx, 5);
    EXPECT_LE(units.cx, 9);
    EXPECT_GE(units.cy, 10);
    EXPECT_LE(units.cy, 17);
}

TEST(TemplateDialog, PlacesEveryControlAndTheClientAreaInDialogUnits) {
    const DialogTemplate tpl = sampleTemplate();
    TemplateDialog dialog(tpl);
    const DialogBaseUnits units = dialog.baseUnits();
    EXPECT_EQ(units.cx, baseUnitsFor(QFont(QStringLiteral("MS Sans Serif"), 8)).cx);
    EXPECT_EQ(units.cy, baseUnitsFor(QFont(QStringLiteral("MS Sans Serif"), 8)).cy);
    EXPECT_EQ(dialog.size(), QSize(dluToPixelsX(246, units), dluToPixelsY(93, units)));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Sample"));
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);

    ASSERT_EQ(dialog.controls().size(), tpl.controls.size());
    for (std::size_t i = 0; i < tpl.controls.size(); ++i) {
        const ControlTemplate& c = tpl.controls[i];
        EXPECT_EQ(dialog.controls()[i]->geometry(), dluToPixels(QRect(c.x, c.y, c.w, c.h), units))
            << "control " << i;
    }
    EXPECT_EQ(dialog.item(1006)->geometry(), dialog.toPixels(9, 56, 230, 14));
}

// A template keeps its size unless it asks to be resizable; then its size is the smallest.
TEST(TemplateDialog, OnlyAResizableTemplateGrowsAndNeverBelowItsSize) {
    for (const bool resizable : {false, true}) {
        DialogTemplate tpl = sampleTemplate();
        tpl.resizable = resizable;
        TemplateDialog dialog(tpl);
        const QSize size(dluToPixelsX(246, dialog.baseUnits()), dluToPixelsY(93, dialog.baseUnits()));
        EXPECT_EQ(dialog.size(), size);
        EXPECT_EQ(dialog.minimumSize(), size);
        EXPECT_EQ(dialog.maximumSize(), resizable ? QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) : size);
        EXPECT_EQ(bool(dialog.windowFlags() & Qt::WindowMaximizeButtonHint), resizable);
        dialog.resize(size + QSize(30, 20));
        EXPECT_EQ(dialog.size(), resizable ? size + QSize(30, 20) : size);
    }
}

TEST(TemplateDialog, FindsControlsByIdWithTheRightKindAndStyles) {
    TemplateDialog dialog(sampleTemplate());
    EXPECT_NE(dialog.itemAs<QPushButton>(1), nullptr);
    EXPECT_TRUE(dialog.itemAs<QPushButton>(1)->isDefault());
    EXPECT_NE(dialog.itemAs<QLineEdit>(1007), nullptr);
    EXPECT_NE(dialog.itemAs<IpAddressEdit>(1001), nullptr);
    EXPECT_NE(dialog.itemAs<QLabel>(1009), nullptr);
    EXPECT_NE(dialog.itemAs<QProgressBar>(1006), nullptr);
    EXPECT_EQ(dialog.itemAs<QProgressBar>(1006)->maximum(), 100);
    EXPECT_EQ(dialog.item(4242), nullptr);
    EXPECT_EQ(dialog.itemAs<QLabel>(1007), nullptr);

    // Two controls with one id: the first is the one found, both are in the window order.
    EXPECT_EQ(dialog.itemText(1015), QStringLiteral("Act"));
    EXPECT_EQ(dialog.itemId(dialog.controls()[8]), 1015);
    EXPECT_EQ(dialog.itemId(dialog.controls()[9]), kNoId);
    EXPECT_NE(qobject_cast<QGroupBox*>(dialog.controls()[9]), nullptr);
    ASSERT_NE(dialog.itemTemplate(1008), nullptr);
    EXPECT_EQ(dialog.itemTemplate(1008)->w, 33);

    EXPECT_FALSE(dialog.isItemEnabled(1));
    EXPECT_TRUE(dialog.isItemEnabled(1007));
    EXPECT_FALSE(dialog.isItemShown(1013));
    EXPECT_TRUE(dialog.isItemShown(1008));
    EXPECT_EQ(dialog.itemAs<QLineEdit>(1013)->echoMode(), QLineEdit::Password);

    dialog.showItem(1013);
    dialog.enableItem(1, true);
    dialog.setItemText(1009, QStringLiteral("Busy"));
    EXPECT_TRUE(dialog.isItemShown(1013));
    EXPECT_TRUE(dialog.isItemEnabled(1));
    EXPECT_EQ(dialog.itemText(1009), QStringLiteral("Busy"));
}

TEST(TemplateDialog, DigitsOnlyEditTakesDigitsUpToItsLimit) {
    TemplateDialog dialog(sampleTemplate());
    dialog.limitText(1008, 5);
    auto* port = dialog.itemAs<QLineEdit>(1008);
    QTest::keyClicks(port, QStringLiteral("3a7-7 77912"));
    EXPECT_EQ(port->text(), QStringLiteral("37777"));
}

TEST(TemplateDialog, FrameLiesBehindTheControlsItSurrounds) {
    TemplateDialog dialog(sampleTemplate());
    dialog.show();
    const QWidget* button = dialog.item(1015);
    EXPECT_EQ(dialog.childAt(button->geometry().center()), button);
}

TEST(TemplateDialog, RadioButtonsAreExclusiveOnlyWithinTheirGroup) {
    TemplateDialog dialog(DialogTemplate{
        .id = 9,
        .caption = "Radios",
        .width = 100,
        .height = 60,
        .controls =
            {
                {10, ControlKind::Static, "1", 2, 2, 10, 8, Style::Group},
                {11, ControlKind::RadioButton, "", 20, 2, 10, 8},
                {12, ControlKind::RadioButton, "", 40, 2, 10, 8},
                {20, ControlKind::Static, "2", 2, 12, 10, 8, Style::Group},
                {21, ControlKind::RadioButton, "", 20, 12, 10, 8},
                {22, ControlKind::RadioButton, "", 40, 12, 10, 8},
            },
    });
    ASSERT_NE(dialog.radioGroup(11), nullptr);
    ASSERT_NE(dialog.radioGroup(21), nullptr);
    EXPECT_NE(dialog.radioGroup(11), dialog.radioGroup(21));
    EXPECT_EQ(dialog.radioGroup(12), nullptr);

    dialog.itemAs<QRadioButton>(12)->click();
    dialog.itemAs<QRadioButton>(21)->click();
    EXPECT_TRUE(dialog.itemAs<QRadioButton>(12)->isChecked());
    EXPECT_TRUE(dialog.itemAs<QRadioButton>(21)->isChecked());
    dialog.itemAs<QRadioButton>(11)->click();
    EXPECT_TRUE(dialog.itemAs<QRadioButton>(11)->isChecked());
    EXPECT_FALSE(dialog.itemAs<QRadioButton>(12)->isChecked());
    EXPECT_TRUE(dialog.itemAs<QRadioButton>(21)->isChecked());
}

TEST(TemplateDialog, ListAndTreeKindsAreTheirControls) {
    TemplateDialog dialog(DialogTemplate{.id = 3,
                                         .caption = "Lists",
                                         .width = 200,
                                         .height = 100,
                                         .controls = {{1001, ControlKind::ListView, "", 7, 4, 100, 80},
                                                      {1003, ControlKind::TreeView, "", 110, 4, 80, 80}}});
    EXPECT_NE(dialog.itemAs<ListViewControl>(1001), nullptr);
    EXPECT_NE(dialog.itemAs<TreeViewControl>(1003), nullptr);
}

TEST(TemplateDialog, ButtonsBecomeCommandsAndInitialisationRunsOnce) {
    CommandDialog dialog(sampleTemplate());
    EXPECT_EQ(dialog.initCount, 0);
    dialog.show();
    dialog.hide();
    dialog.show();
    EXPECT_EQ(dialog.initCount, 1);

    dialog.itemAs<QPushButton>(1015)->click();
    EXPECT_EQ(dialog.commands, std::vector<int>{1015});
    // A disabled button gives no command.
    QTest::mouseClick(dialog.itemAs<QPushButton>(1), Qt::LeftButton);
    EXPECT_EQ(dialog.commands, std::vector<int>{1015});
}

TEST(TemplateDialog, EnterPressesTheDefaultButtonOnlyWhenItIsEnabled) {
    CommandDialog dialog(sampleTemplate());
    dialog.show();
    QTest::keyClick(dialog.item(1007), Qt::Key_Return);
    EXPECT_TRUE(dialog.commands.empty());

    dialog.enableItem(1);
    QTest::keyClick(dialog.item(1007), Qt::Key_Return);
    EXPECT_EQ(dialog.commands, std::vector<int>{IDOK});
    EXPECT_EQ(dialog.result(), IDOK);
}

TEST(TemplateDialog, EnterWithoutDefaultButtonIsTheOkCommandAndEscTheCancelCommand) {
    const DialogTemplate tpl{.id = 5,
                             .caption = "Plain",
                             .width = 100,
                             .height = 40,
                             .controls = {{1020, ControlKind::PushButton, "Modify", 5, 5, 40, 14},
                                          {1031, ControlKind::Edit, "", 50, 5, 40, 14}}};
    CommandDialog enter(tpl);
    enter.show();
    QTest::keyClick(enter.item(1031), Qt::Key_Enter);
    EXPECT_EQ(enter.commands, std::vector<int>{IDOK});
    EXPECT_EQ(enter.result(), IDOK);
    EXPECT_FALSE(enter.isVisible());

    CommandDialog escape(tpl);
    escape.show();
    QTest::keyClick(escape.item(1031), Qt::Key_Escape);
    EXPECT_EQ(escape.commands, std::vector<int>{IDCANCEL});
    EXPECT_EQ(escape.result(), IDCANCEL);
}

TEST(TemplateDialog, CloseRequestIsTheCancelCommandUnlessTheWindowDecidesOtherwise) {
    CommandDialog plain(sampleTemplate());
    plain.show();
    plain.close();
    EXPECT_EQ(plain.commands, std::vector<int>{IDCANCEL});
    EXPECT_EQ(plain.result(), IDCANCEL);
}

TEST(TemplateDialog, ModalLoopOutlivesHidingAndEndsWithTheResult) {
    HidingDialog dialog(sampleTemplate());
    bool hiddenWhileRunning = false;
    QTimer::singleShot(0, &dialog, [&] {
        dialog.close();
        // Still inside doModal: the loop went on although the window is hidden.
        QTimer::singleShot(0, &dialog, [&] {
            hiddenWhileRunning = !dialog.isVisible();
            dialog.endDialog(IDOK);
        });
    });
    EXPECT_EQ(dialog.doModal(), IDOK);
    EXPECT_TRUE(hiddenWhileRunning);
}

TEST(TemplateDialog, DialogEndedDuringInitialisationDoesNotWait) {
    class EndsAtOnce : public TemplateDialog {
    public:
        using TemplateDialog::TemplateDialog;

    protected:
        void onInitDialog() override { endDialog(IDCANCEL); }
    };
    EndsAtOnce dialog(sampleTemplate());
    EXPECT_EQ(dialog.doModal(), IDCANCEL);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(TemplateDialog, ControlOfTheWindowsOwnClassTakesTheTemplatePlace) {
    class OrgTree : public TreeViewControl {};
    CommandDialog dialog(
        DialogTemplate{.id = 129,
                       .caption = "Tree",
                       .width = 200,
                       .height = 100,
                       .controls = {{1003, ControlKind::TreeView, "", 7, 7, 100, 80, Style::Disabled},
                                    {1008, ControlKind::PushButton, "Edit", 110, 7, 60, 14},
                                    {1009, ControlKind::Edit, "", 110, 25, 60, 14, Style::Hidden}}});
    const QRect treePlace = dialog.item(1003)->geometry();
    auto* tree = new OrgTree;
    ASSERT_TRUE(dialog.replaceItem(1003, tree));
    EXPECT_EQ(dialog.item(1003), tree);
    EXPECT_EQ(dialog.controls()[0], tree);
    EXPECT_EQ(tree->parentWidget(), &dialog);
    EXPECT_EQ(tree->geometry(), treePlace);
    EXPECT_FALSE(tree->isEnabled());

    auto* edit = new QLineEdit;
    ASSERT_TRUE(dialog.replaceItem(1009, edit));
    EXPECT_FALSE(dialog.isItemShown(1009));

    auto* button = new QPushButton(QStringLiteral("Edit"));
    ASSERT_TRUE(dialog.replaceItem(1008, button));
    button->click();
    EXPECT_EQ(dialog.commands, std::vector<int>{1008});

    auto* spare = new QLabel;
    EXPECT_FALSE(dialog.replaceItem(4242, spare));
    delete spare;
}
