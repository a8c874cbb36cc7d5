// The recorder list's CSV export and sort keys, without a window. The CSV is read back by
// Python's csv module, an outside reader, as well as checked byte for byte.

#include "discovery/DeviceListCsv.h"
#include "discovery/DeviceSortKey.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::vector<std::string>>;

const std::vector<std::string> kHeadings{"No.",         "IP Address",      "Port Number",
                                         "Subnet Mask", "Default Gateway", "Mac Address "};

// The file as Python's csv module reads it, each field and each record ended by a separator.
std::string readByPython(const std::string& csv) {
    TempDir dir;
    const std::string path = dir.Write("list.csv", csv).string();
    const ChildResult r = RunProgram({"/usr/bin/python3", "-c",
                                      "import csv,sys\nfor r in csv.reader(open(sys.argv[1], newline='', "
                                      "encoding='utf-8', errors='strict')):\n"
                                      "  sys.stdout.write(''.join(f + '|' for f in r) + '#')",
                                      path});
    return r.status == 0 ? r.out : r.out + "(python failed) " + r.err;
}

std::string joined(const Rows& rows) {
    std::string out;
    for (const auto& row : rows) {
        for (const auto& field : row) {
            out += field + "|";
        }
        out += "#";
    }
    return out;
}

} // namespace

TEST(DeviceListCsv, PlainRowsAreWrittenAsTheyAreWithAHeaderAndCrLf) {
    const Rows rows{{"1", "192.168.1.108", "37777", "255.255.255.0", "192.168.1.1", "00:11:22:33:44:55"}};
    EXPECT_EQ(deviceListCsv(kHeadings, rows),
              "No.,IP Address,Port Number,Subnet Mask,Default Gateway,\"Mac Address \"\r\n"
              "1,192.168.1.108,37777,255.255.255.0,192.168.1.1,00:11:22:33:44:55\r\n");
    EXPECT_EQ(deviceListCsv(kHeadings, {}),
              "No.,IP Address,Port Number,Subnet Mask,Default Gateway,\"Mac Address \"\r\n");
}

TEST(DeviceListCsv, AwkwardMacTextsSurviveAnOutsideReader) {
    // What a recorder may put in its identity: separators, quotes, line breaks, non-ASCII bytes
    // (shown as Latin-1 and written as UTF-8), blanks at the ends, and formula-like text.
    const Rows rows{
        {"1", "10.0.0.1", "1", "255.0.0.0", "10.0.0.254", "a,b"},
        {"2", "10.0.0.2", "2", "255.0.0.0", "10.0.0.254", "say \"hi\""},
        {"3", "10.0.0.3", "3", "255.0.0.0", "10.0.0.254", "line\r\nbreak"},
        {"4", "10.0.0.4", "4", "255.0.0.0", "10.0.0.254", "caf\xC3\xA9 \xC3\xBF"},
        {"5", "10.0.0.5", "5", "255.0.0.0", "10.0.0.254", " padded "},
        {"6", "10.0.0.6", "6", "255.0.0.0", "10.0.0.254", "=HYPERLINK(\"x\")"},
        {"7", "10.0.0.7", "7", "255.0.0.0", "10.0.0.254", ""},
    };
    const std::string csv = deviceListCsv(kHeadings, rows);
    Rows expected = rows;
    expected.insert(expected.begin(), kHeadings);
    expected[6][5] = "'=HYPERLINK(\"x\")"; // shown as text by a spreadsheet, not run
    EXPECT_EQ(readByPython(csv), joined(expected));
    EXPECT_NE(csv.find("\"say \"\"hi\"\"\""), std::string::npos);
}

TEST(DeviceListCsv, FormulaLikeFieldsAreNeutralised) {
    EXPECT_EQ(csvField("=1+1"), "'=1+1");
    EXPECT_EQ(csvField("+1"), "'+1");
    EXPECT_EQ(csvField("-1"), "'-1");
    EXPECT_EQ(csvField("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(csvField("\tx"), "'\tx");
    EXPECT_EQ(csvField("\rx"), "\"'\rx\"");
    EXPECT_EQ(csvField("a=b"), "a=b");
    EXPECT_EQ(csvField("192.168.1.1"), "192.168.1.1");
}

TEST(DeviceSortKey, AddressesAndPortsSortAsNumbersAndTiesKeepTheOrderFound) {
    struct Cell {
        std::string text;
        std::size_t found;
    };
    auto sorted = [](DeviceColumn column, std::vector<Cell> cells) {
        std::ranges::sort(cells, [&](const Cell& a, const Cell& b) {
            return deviceSortKey(column, a.text, a.found) < deviceSortKey(column, b.text, b.found);
        });
        std::vector<std::string> texts;
        for (const auto& c : cells) {
            texts.push_back(c.text + "#" + std::to_string(c.found));
        }
        return texts;
    };
    EXPECT_EQ(sorted(DeviceColumn::Address, {{"10.0.0.10", 0}, {"9.255.0.1", 1}, {"10.0.0.9", 2}, {"x", 3}}),
              (std::vector<std::string>{"9.255.0.1#1", "10.0.0.9#2", "10.0.0.10#0", "x#3"}));
    EXPECT_EQ(sorted(DeviceColumn::Port, {{"37777", 0}, {"80", 1}, {"8000", 2}, {"80", 3}}),
              (std::vector<std::string>{"80#1", "80#3", "8000#2", "37777#0"}));
    EXPECT_EQ(sorted(DeviceColumn::Mask, {{"255.255.255.0", 2}, {"255.0.0.0", 0}, {"255.255.255.0", 1}}),
              (std::vector<std::string>{"255.0.0.0#0", "255.255.255.0#1", "255.255.255.0#2"}));
    EXPECT_EQ(sorted(DeviceColumn::Mac, {{"aa:01", 0}, {"AA:00", 1}, {"0b", 2}}),
              (std::vector<std::string>{"0b#2", "AA:00#1", "aa:01#0"}));
    // "No." follows the order found whatever its text says.
    EXPECT_EQ(sorted(DeviceColumn::Number, {{"10", 2}, {"9", 0}, {"1", 1}}),
              (std::vector<std::string>{"9#0", "1#1", "10#2"}));
}
