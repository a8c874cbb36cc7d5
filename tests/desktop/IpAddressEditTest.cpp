#include "desktop/IpAddressEdit.h"
#include "desktop/WindowText.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace desktop;

TEST(IpAddressEdit, ParsesOnlyFourOctetsOfAtMost255) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    };
    const Case cases[] = {
        {"0.0.0.0", 0u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"192.168.1.10", 0xC0A8010Au},
        {"010.001.000.009", 0x0A010009u},
        {"256.1.1.1", std::nullopt},
        {"1.2.3.999", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1..3.4", std::nullopt},
        {"1.2.3.", std::nullopt},
        {"1234.1.1.1", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.x", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IpAddressEdit::parse(QString::fromLatin1(c.text)), c.value) << c.text;
    }
    EXPECT_EQ(IpAddressEdit::format(0xC0A8010A), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(IpAddressEdit::format(0), QStringLiteral("0.0.0.0"));
}

TEST(IpAddressEdit, BlankBoxHoldsZeroAndNoText) {
    IpAddressEdit box;
    EXPECT_TRUE(box.isBlank());
    EXPECT_EQ(box.fieldCount(), 0);
    EXPECT_EQ(box.address(), 0u);
    EXPECT_EQ(box.addressText(), QString());
    EXPECT_EQ(windowText(&box), QString());
}

TEST(IpAddressEdit, TypedAddressIsReadBack) {
    IpAddressEdit box;
    QTest::keyClicks(&box, QStringLiteral("192.168.1.10"));
    EXPECT_EQ(box.address(), 0xC0A8010Au);
    EXPECT_EQ(box.fieldCount(), 4);
    EXPECT_EQ(windowText(&box), QStringLiteral("192.168.1.10"));
}

TEST(IpAddressEdit, KeystrokesThatCannotMakeAnAddressAreRefused) {
    IpAddressEdit box;
    // 3 then 0 then 0 would make 300; letters, a fifth octet and a fourth digit never fit.
    QTest::keyClicks(&box, QStringLiteral("300"));
    EXPECT_EQ(box.text(), QStringLiteral("30"));
    box.clear();
    QTest::keyClicks(&box, QStringLiteral("1a.b2.3.4.5"));
    EXPECT_EQ(box.text(), QStringLiteral("1.2.3.45"));
    EXPECT_EQ(box.address(), 0x0102032Du);
}

TEST(IpAddressEdit, DigitAfterAFullOctetStartsTheNext) {
    IpAddressEdit box;
    QTest::keyClicks(&box, QStringLiteral("19216801"));
    EXPECT_EQ(box.text(), QStringLiteral("192.168.01"));
    EXPECT_EQ(box.addressText(), QStringLiteral("192.168.1.0"));
    EXPECT_EQ(box.fieldCount(), 3);
}

TEST(IpAddressEdit, PartlyFilledBoxCountsBlankOctetsAsZero) {
    IpAddressEdit box;
    QTest::keyClicks(&box, QStringLiteral("10..7"));
    EXPECT_EQ(box.fieldCount(), 2);
    EXPECT_EQ(box.address(), 0x0A000700u);
    EXPECT_EQ(box.addressText(), QStringLiteral("10.0.7.0"));
}

TEST(IpAddressEdit, PastedAddressLosesItsBlanks) {
    IpAddressEdit box;
    box.insert(QStringLiteral(" 10.0.0.1 \n"));
    EXPECT_EQ(box.text(), QStringLiteral("10.0.0.1"));
    box.clear();
    box.insert(QStringLiteral("10.0.0.256"));
    EXPECT_TRUE(box.isBlank());
}

TEST(IpAddressEdit, SetTextAcceptsAnAddressOrBlanksTheBox) {
    IpAddressEdit box;
    EXPECT_TRUE(box.setAddressText(QStringLiteral("172.16.0.1")));
    EXPECT_EQ(box.address(), 0xAC100001u);
    EXPECT_FALSE(box.setAddressText(QStringLiteral("172.16.0.300")));
    EXPECT_TRUE(box.isBlank());
    box.setAddress(0x7F000001);
    setWindowText(&box, QString());
    EXPECT_TRUE(box.isBlank());
    setWindowText(&box, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(box.address(), 0x7F000001u);
    EXPECT_TRUE(isEditControl(&box));
}
