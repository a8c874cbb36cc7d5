// The two small dialogs of Modify IP: their checks and what they hand back.

#include "discovery/ModifyIpDialog.h"
#include "discovery/ValidateDialog.h"

#include "desktop/DialogUnits.h"
#include "desktop/IpAddressEdit.h"
#include "desktop/testing/MessageBoxRecorder.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

void pressOk(TemplateDialog& dialog) {
    dialog.itemAs<QPushButton>(IDOK)->click();
}

} // namespace

TEST(ValidateDialog, HasItsTemplateAndMasksThePassword) {
    ValidateDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Validate"));
    EXPECT_EQ(dialog.size(),
              QSize(dluToPixelsX(187, dialog.baseUnits()), dluToPixelsY(80, dialog.baseUnits())));
    EXPECT_EQ(dialog.itemAs<QLineEdit>(ValidateDialog::IDC_PASSWORD)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.itemAs<QLineEdit>(ValidateDialog::IDC_USERNAME)->echoMode(), QLineEdit::Normal);
    dialog.show();
    EXPECT_TRUE(dialog.itemText(ValidateDialog::IDC_USERNAME).isEmpty());
    EXPECT_TRUE(dialog.itemText(ValidateDialog::IDC_PASSWORD).isEmpty());
}

TEST(ValidateDialog, EmptyUserNameIsRefusedAndTheDialogStaysOpen) {
    MessageBoxRecorder boxes;
    ValidateDialog dialog;
    dialog.show();
    dialog.setItemText(ValidateDialog::IDC_PASSWORD, QStringLiteral("pw"));
    pressOk(dialog);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("User name can not be null!"));
    EXPECT_EQ(boxes.last().caption, applicationName());
    EXPECT_EQ(boxes.last().buttons(), MB_OK);
    EXPECT_TRUE(dialog.isVisible());

    // Enter does the same as OK.
    QTest::keyClick(dialog.item(ValidateDialog::IDC_USERNAME), Qt::Key_Return);
    EXPECT_EQ(boxes.count(), 2u);
    EXPECT_TRUE(dialog.isVisible());
}

TEST(ValidateDialog, AnyNonEmptyNameIsTakenAsTypedWithAnyPassword) {
    MessageBoxRecorder boxes;
    for (const QString& name : {QStringLiteral(" "), QStringLiteral("  admin "), QStringLiteral("x")}) {
        ValidateDialog dialog;
        dialog.show();
        QTest::keyClicks(dialog.item(ValidateDialog::IDC_USERNAME), name);
        pressOk(dialog);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), IDOK);
        EXPECT_EQ(dialog.userName(), name);
        EXPECT_TRUE(dialog.password().isEmpty());
    }
    EXPECT_EQ(boxes.count(), 0u);

    ValidateDialog dialog;
    dialog.show();
    dialog.setItemText(ValidateDialog::IDC_USERNAME, QStringLiteral("admin"));
    QTest::keyClicks(dialog.item(ValidateDialog::IDC_PASSWORD), QStringLiteral("p a&&ss"));
    pressOk(dialog);
    EXPECT_EQ(dialog.password(), QStringLiteral("p a&&ss"));
}

TEST(ModifyIpDialog, ShowsTheGivenValuesInItsTemplate) {
    ModifyIpDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Modify IP"));
    EXPECT_EQ(dialog.size(),
              QSize(dluToPixelsX(276, dialog.baseUnits()), dluToPixelsY(125, dialog.baseUnits())));
    EXPECT_EQ(dialog.itemText(1022), QStringLiteral("IP Address"));
    EXPECT_EQ(dialog.itemText(1023), QStringLiteral("Subnet Mask"));
    EXPECT_EQ(dialog.itemText(1024), QStringLiteral("Default Gateway"));
    dialog.setValues(0xC0A8016C, 0xFFFFFF00, 0xC0A80101);
    dialog.show();
    EXPECT_EQ(dialog.itemText(ModifyIpDialog::IDC_IPADDRESS), QStringLiteral("192.168.1.108"));
    EXPECT_EQ(dialog.itemText(ModifyIpDialog::IDC_SUBNET_MASK), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(dialog.itemText(ModifyIpDialog::IDC_GATEWAY), QStringLiteral("192.168.1.1"));
    pressOk(dialog);
    EXPECT_EQ(dialog.result(), IDOK);
    EXPECT_EQ(dialog.address(), 0xC0A8016Cu);
    EXPECT_EQ(dialog.mask(), 0xFFFFFF00u);
    EXPECT_EQ(dialog.gateway(), 0xC0A80101u);
}

TEST(ModifyIpDialog, FirstZeroValueIsRefusedInTheOrderAddressMaskGateway) {
    const struct {
        const char* address;
        const char* mask;
        const char* gateway;
        const char* text;
    } cases[] = {
        {"", "255.255.255.0", "192.168.1.1", "Device IP address is invalid!"},
        {"0.0.0.0", "", "", "Device IP address is invalid!"},
        {"192.168.1.20", "0.0.0.0", "192.168.1.1", "Device Subnet mask is invalid!"},
        {"192.168.1.20", "", "", "Device Subnet mask is invalid!"},
        {"192.168.1.20", "255.255.255.0", "0.0.0.0", "Device Default gateway is invalid!"},
        {"192.168.1.20", "255.255.255.0", "", "Device Default gateway is invalid!"},
    };
    for (const auto& c : cases) {
        MessageBoxRecorder boxes;
        ModifyIpDialog dialog;
        dialog.setValues(0x01020304, 0x01020304, 0x01020304);
        dialog.show();
        dialog.setItemText(ModifyIpDialog::IDC_IPADDRESS, QString::fromUtf8(c.address));
        dialog.setItemText(ModifyIpDialog::IDC_SUBNET_MASK, QString::fromUtf8(c.mask));
        dialog.setItemText(ModifyIpDialog::IDC_GATEWAY, QString::fromUtf8(c.gateway));
        pressOk(dialog);
        ASSERT_EQ(boxes.count(), 1u) << c.text;
        EXPECT_EQ(boxes.last().text, QString::fromUtf8(c.text));
        EXPECT_EQ(boxes.last().caption, QStringLiteral("ERROR"));
        EXPECT_TRUE(dialog.isVisible()) << c.text;
    }
}

TEST(ModifyIpDialog, NothingButZeroIsChecked) {
    // A mask with holes and a gateway outside the subnet pass: the recorder judges them.
    MessageBoxRecorder boxes;
    ModifyIpDialog dialog;
    dialog.show();
    dialog.setItemText(ModifyIpDialog::IDC_IPADDRESS, QStringLiteral("255.255.255.255"));
    dialog.setItemText(ModifyIpDialog::IDC_SUBNET_MASK, QStringLiteral("0.255.0.1"));
    dialog.setItemText(ModifyIpDialog::IDC_GATEWAY, QStringLiteral("8.8.8.8"));
    pressOk(dialog);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(dialog.result(), IDOK);
    EXPECT_EQ(dialog.address(), 0xFFFFFFFFu);
    EXPECT_EQ(dialog.mask(), 0x00FF0001u);
    EXPECT_EQ(dialog.gateway(), 0x08080808u);
}
