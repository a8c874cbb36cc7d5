#include "desktop/DataExchange.h"
#include "desktop/IpAddressEdit.h"
#include "desktop/NumberText.h"
#include "desktop/TemplateDialog.h"
#include "desktop/testing/MessageBoxRecorder.h"

#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

// A form with a text, two unsigned numbers, a signed number, an address, a radio group and a
// check box, exchanged in that order.
class FormDialog : public TemplateDialog {
public:
    FormDialog()
        : TemplateDialog(DialogTemplate{.id = 1,
                                        .caption = "Form",
                                        .width = 200,
                                        .height = 100,
                                        .controls = {
                                            {100, ControlKind::Edit, "", 5, 5, 60, 14},
                                            {101, ControlKind::Edit, "", 5, 20, 60, 14, Style::Number},
                                            {102, ControlKind::Edit, "", 5, 35, 60, 14},
                                            {103, ControlKind::Edit, "", 5, 50, 60, 14},
                                            {104, ControlKind::IpAddress, "", 5, 65, 80, 14},
                                            {105, ControlKind::RadioButton, "A", 90, 5, 40, 10, Style::Group},
                                            {106, ControlKind::RadioButton, "B", 90, 15, 40, 10},
                                            {107, ControlKind::CheckBox, "C", 90, 30, 40, 10, Style::Group},
                                        }}) {}

    QString m_strText = QStringLiteral("old");
    std::uint32_t m_nPort = 37777;
    std::uint32_t m_dwMac = 5;
    std::int32_t m_nCount = 8;
    std::uint32_t m_ip = 0;
    int m_nKind = -1;
    bool m_bFlag = false;

protected:
    void doDataExchange(DataExchange& dx) override {
        dx.text(100, m_strText);
        dx.number(101, m_nPort);
        dx.number(102, m_dwMac);
        dx.number(103, m_nCount);
        dx.ipAddress(104, m_ip);
        dx.radio(105, m_nKind);
        dx.check(107, m_bFlag);
    }
};

} // namespace

TEST(DataExchange, RefreshWritesTheFieldsIntoTheControls) {
    MessageBoxRecorder boxes;
    FormDialog dialog;
    dialog.m_ip = 0xC0A8010A;
    dialog.m_nKind = 1;
    dialog.m_bFlag = true;
    dialog.initialise();
    EXPECT_EQ(dialog.itemText(100), QStringLiteral("old"));
    EXPECT_EQ(dialog.itemText(101), QStringLiteral("37777"));
    EXPECT_EQ(dialog.itemText(102), QStringLiteral("5"));
    EXPECT_EQ(dialog.itemText(103), QStringLiteral("8"));
    EXPECT_EQ(dialog.itemText(104), QStringLiteral("192.168.1.10"));
    EXPECT_FALSE(dialog.itemAs<QRadioButton>(105)->isChecked());
    EXPECT_TRUE(dialog.itemAs<QRadioButton>(106)->isChecked());

    // A radio index of -1 clears the group again.
    dialog.m_nKind = -1;
    EXPECT_TRUE(dialog.updateData(false));
    EXPECT_FALSE(dialog.itemAs<QRadioButton>(106)->isChecked());
    EXPECT_EQ(boxes.count(), 0u);
}

TEST(DataExchange, TakingValuesReadsEveryControl) {
    MessageBoxRecorder boxes;
    FormDialog dialog;
    dialog.initialise();
    dialog.setItemText(100, QStringLiteral("new"));
    dialog.setItemText(101, QStringLiteral("8000"));
    dialog.setItemText(102, QStringLiteral(" 4294967295 "));
    dialog.setItemText(103, QStringLiteral("-3"));
    dialog.setItemText(104, QStringLiteral("10.0.0.1"));
    dialog.itemAs<QRadioButton>(106)->click();
    dialog.itemAs<QAbstractButton>(107)->click();
    ASSERT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.m_strText, QStringLiteral("new"));
    EXPECT_EQ(dialog.m_nPort, 8000u);
    EXPECT_EQ(dialog.m_dwMac, 4294967295u);
    EXPECT_EQ(dialog.m_nCount, -3);
    EXPECT_EQ(dialog.m_ip, 0x0A000001u);
    EXPECT_EQ(dialog.m_nKind, 1);
    EXPECT_TRUE(dialog.m_bFlag);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST(DataExchange, BadNumberIsRefusedAndItAndTheFieldsAfterItKeepTheirValues) {
    MessageBoxRecorder boxes;
    FormDialog dialog;
    dialog.initialise();
    dialog.setItemText(100, QStringLiteral("taken"));
    dialog.setItemText(101, QStringLiteral("12ab"));
    dialog.setItemText(102, QStringLiteral("99"));
    dialog.setItemText(103, QStringLiteral("1"));

    EXPECT_FALSE(dialog.updateData(true));
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Please enter a positive integer."));
    EXPECT_EQ(boxes.last().caption, applicationName());
    EXPECT_EQ(boxes.last().icon(), MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes.last().buttons(), MB_OK);
    EXPECT_EQ(boxes.last().owner, &dialog);
    EXPECT_TRUE(boxes.last().fromGuiThread);

    EXPECT_EQ(dialog.m_strText, QStringLiteral("taken")); // before the bad box: taken
    EXPECT_EQ(dialog.m_nPort, 37777u);                    // the bad box: old value kept
    EXPECT_EQ(dialog.m_dwMac, 5u);                        // after it: not taken
    EXPECT_EQ(dialog.m_nCount, 8);
    // The refused text is selected for the user to retype.
    EXPECT_EQ(dialog.itemAs<QLineEdit>(101)->selectedText(), QStringLiteral("12ab"));
}

TEST(DataExchange, EmptyNegativeAndOversizedUnsignedNumbersAreRefused) {
    MessageBoxRecorder boxes;
    for (const char* text : {"", "-1", "4294967296", "+", "1 2"}) {
        FormDialog dialog;
        dialog.initialise();
        dialog.setItemText(102, QString::fromLatin1(text));
        EXPECT_FALSE(dialog.updateData(true)) << text;
        EXPECT_EQ(dialog.m_dwMac, 5u) << text;
    }
    EXPECT_EQ(boxes.count(), 5u);
}

TEST(DataExchange, BadSignedNumberHasItsOwnMessage) {
    MessageBoxRecorder boxes;
    FormDialog dialog;
    dialog.initialise();
    dialog.setItemText(103, QStringLiteral("eight"));
    EXPECT_FALSE(dialog.updateData(true));
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Please enter an integer.")});
    EXPECT_EQ(dialog.m_nCount, 8);
}

TEST(DataExchange, WindowChecksStopTheExchangeWithTheirOwnMessage) {
    MessageBoxRecorder boxes;
    FormDialog dialog;
    DataExchange dx(dialog, true);
    dx.fail(101, QStringLiteral("The channel's number must be between 1 and 16!"));
    dx.fail(102, QStringLiteral("second"));
    EXPECT_TRUE(dx.failed());
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("The channel's number must be between 1 and 16!")});
}

TEST(NumberText, UnsignedNumbers) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    };
    const Case cases[] = {
        {"0", 0u},
        {"37777", 37777u},
        {" \t42\t ", 42u},
        {"+7", 7u},
        {"007", 7u},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"-1", std::nullopt},
        {"-0", std::nullopt},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"+", std::nullopt},
        {"0x10", std::nullopt},
        {"12a", std::nullopt},
        {"1 2", std::nullopt},
        {"1.5", std::nullopt},
        {"\xd9\xa3", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseUnsigned32(QString::fromUtf8(c.text)), c.value) << '"' << c.text << '"';
    }
}

TEST(NumberText, SignedNumbers) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"8", 8},
        {"-3", -3},
        {" +16 ", 16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"--1", std::nullopt},
        {"", std::nullopt},
        {"1e3", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseSigned32(QString::fromUtf8(c.text)), c.value) << '"' << c.text << '"';
    }
}
