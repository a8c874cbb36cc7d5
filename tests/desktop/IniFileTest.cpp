#include "desktop/IniFile.h"

#include <QTemporaryDir>

#include <fstream>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

class IniFileTest : public testing::Test {
protected:
    // Writes the bytes exactly as given (no line-end translation) and returns the path.
    std::string write(const std::string& bytes) {
        const std::string path = m_dir.path().toStdString() + "/lang" + std::to_string(++m_count) + ".ini";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

} // namespace

TEST_F(IniFileTest, SectionAndKeyMatchWithoutRegardToCase) {
    const std::string path = write("[string]\n"
                                   "speed dome=Domo veloz\n"
                                   "CHANNEL=Canal\n");
    EXPECT_EQ(readIniString(path, "String", "Speed Dome"), "Domo veloz");
    EXPECT_EQ(readIniString(path, "STRING", "channel"), "Canal");
    EXPECT_EQ(readIniString(path, "String", "Channels", "def"), "def");
}

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheFallback) {
    const std::string path = write("[Other]\nOK=Aceptar\n");
    EXPECT_EQ(readIniString(path, "String", "OK", "OK"), "OK");
    EXPECT_EQ(readIniString(path, "Other", "Cancel"), "");
    EXPECT_EQ(readIniString(m_dir.path().toStdString() + "/none.ini", "String", "OK", "fb"), "fb");
    EXPECT_EQ(readIniString("", "String", "OK", "fb"), "fb");
}

TEST_F(IniFileTest, BlanksAroundNamesAndValuesAndOnePairOfQuotesAreDropped) {
    const std::string path = write("[ String ]\r\n"
                                   "  Normal Camera \t=  Cámara normal  \r\n"
                                   "Quoted=\"  padded  \"\r\n"
                                   "Single='x'\r\n"
                                   "Unmatched=\"x'\r\n");
    EXPECT_EQ(readIniString(path, "String", "Normal Camera"), "Cámara normal");
    EXPECT_EQ(readIniString(path, "String", " Normal Camera "), "Cámara normal");
    EXPECT_EQ(readIniString(path, "String", "Quoted"), "  padded  ");
    EXPECT_EQ(readIniString(path, "String", "Single"), "x");
    EXPECT_EQ(readIniString(path, "String", "Unmatched"), "\"x'");
}

TEST_F(IniFileTest, KeysMayHoldColonsAndValuesKeepCommentCharacters) {
    const std::string path = write("[String]\n"
                                   "User Name:=Usuario:\n"
                                   "Time: 10=Hora ; local # zone\n"
                                   "Rate=100%;50%\n"
                                   "a=b=c\n");
    EXPECT_EQ(readIniString(path, "String", "User Name:"), "Usuario:");
    EXPECT_EQ(readIniString(path, "String", "User Name"), "");
    EXPECT_EQ(readIniString(path, "String", "Time: 10"), "Hora ; local # zone");
    EXPECT_EQ(readIniString(path, "String", "Rate"), "100%;50%");
    EXPECT_EQ(readIniString(path, "String", "a"), "b=c");
}

TEST_F(IniFileTest, LongLinesAreReadWholeAndNeverSplitIntoMoreLines) {
    const std::string value(400, 'v');
    // Cut after 199 characters, the second line would begin with a key of its own.
    const std::string path = write("[String]\n"
                                   "Long=" +
                                   value +
                                   "\n"
                                   "Other=" +
                                   std::string(193, 't') +
                                   "Fake=no\n"
                                   "After=yes\n");
    EXPECT_EQ(readIniString(path, "String", "Long"), value);
    EXPECT_EQ(readIniString(path, "String", "Other"), std::string(193, 't') + "Fake=no");
    EXPECT_EQ(readIniString(path, "String", "Fake"), "");
    EXPECT_EQ(readIniString(path, "String", "After"), "yes");
}

TEST_F(IniFileTest, FirstMatchWinsAndOtherSectionsAreNotSearched) {
    const std::string path = write("OK=none\n"
                                   "[Other]\n"
                                   "OK=other\n"
                                   "[String]\n"
                                   "OK=first\n"
                                   "ok=second\n"
                                   "[String]\n"
                                   "OK=third\n");
    EXPECT_EQ(readIniString(path, "String", "OK"), "first");
    EXPECT_EQ(readIniString(path, "Other", "ok"), "other");
    EXPECT_EQ(readIniString(path, "", "OK"), "none");
}

TEST_F(IniFileTest, CommentsIndentedLinesByteOrderMarkAndEmptyKeys) {
    const std::string path = write("\xEF\xBB\xBF[String]\n"
                                   "; OK=commented\n"
                                   "OK=Aceptar\n"
                                   "    continued line\n"
                                   "  Cancel=Cancelar\n"
                                   "=empty key\n"
                                   "NoEquals\n"
                                   "Blank=\n");
    EXPECT_EQ(readIniString(path, "String", "OK"), "Aceptar");
    EXPECT_EQ(readIniString(path, "String", "Cancel"), "Cancelar");
    EXPECT_EQ(readIniString(path, "String", "; OK"), "");
    EXPECT_EQ(readIniString(path, "String", "", "kept"), "kept");
    EXPECT_EQ(readIniString(path, "String", "NoEquals", "x"), "x");
    EXPECT_EQ(readIniString(path, "String", "Blank", "x"), "");
}
