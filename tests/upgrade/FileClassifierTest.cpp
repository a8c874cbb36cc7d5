#include "tests/upgrade/RecordingView.h"
#include "tests/upgrade/TestFiles.h"

#include "upgrade/FileClassifier.h"
#include "upgrade/UpgradeIds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

class FileClassifierTest : public ::testing::Test {
protected:
    void SetUp() override { g_nUpgradeKind = KIND_BIOS; }
    void TearDown() override { g_nUpgradeKind = KIND_BIOS; }

    std::string RefreshLine(const std::string& fileText) const {
        return "refresh " + view.boxes.m_strIP + "|" + std::to_string(view.boxes.m_nPort) + "|" + fileText +
               "|" + std::to_string(view.boxes.m_dwMacValue);
    }

    TempDir dir;
    RecordingView view;
    CUpgradeState state;
    CFileClassifier classifier{state, view};
};

struct Row {
    const char* name;
    std::string content;
    int64_t length; // -1: the content's own length; otherwise extended with a hole
    FileClass expected;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

const int64_t kOwn = -1;

// Each rule of the table, and the cases where a later rule must not win over an earlier one.
const Row kRows[] = {
    {"font.hzk", "BM-anything", kOwn, FileClass::Font},
    {"FONT.HZK", Bytes({0xC0, 0x80}), kOwn, FileClass::Font},
    {"logo.bin", "BM\x36\x00", kOwn, FileClass::Logo},
    {"logo.exe", "BMxx", kOwn, FileClass::Logo},
    {"pic.jpg", Bytes({0xFF, 0xD8, 0xFF, 0xE0}), kOwn, FileClass::Web},
    {"pic.exe", Bytes({0xFF, 0xD8}), kOwn, FileClass::Web},
    {"setup.cab", "MSCF\0\0", kOwn, FileClass::Web},
    {"page.txt", "<html>", kOwn, FileClass::Web},
    {"one.dat", "U", kOwn, FileClass::Web},
    {"u-zero.dat", std::string("U\0rest", 6), kOwn, FileClass::Web},
    {"x.mi", "ab", kOwn, FileClass::Web},
    {"x.Mi", "MZ", kOwn, FileClass::Web},
    {"index.htm", Bytes({0x00, 0x01, 0x02}), kOwn, FileClass::Web},
    {"INDEX.HTM", "MZ", kOwn, FileClass::Web},
    {"main.bin", "MZ\x90\x00", kOwn, FileClass::Bios},
    {"fw.bin", "PK\x03\x04", kOwn, FileClass::Bios},
    {"vx.img", "VXWORKS", kOwn, FileClass::Bios},
    {"boot.mi", Bytes({0xC0, 0x80, 0x00}), kOwn, FileClass::Bios},
    {"boot-small.img", Bytes({0xC0, 0x80}), 1202180, FileClass::Boot},
    {"boot-large.img", Bytes({0xC0, 0x80}), 1202181, FileClass::BootLarge},
    {"boot.exe", Bytes({0xC0, 0x80}), kOwn, FileClass::Boot},
    {"setup.exe", "MZ\x90\x00", kOwn, FileClass::Program},
    {"fw.exe", "PK\x03\x04", kOwn, FileClass::Program},
    {"tool.exe",
     "\x7f"
     "ELF",
     kOwn, FileClass::Program},
    {"prog.dat", "PL\x01", kOwn, FileClass::Program},
    // Refusals.
    {"page.html", "<!DOCTYPE html>", kOwn, FileClass::Refused},
    {"u-one.dat", "U\x01", kOwn, FileClass::Refused},
    {"zero-first.bin", std::string("\0MZ", 3), kOwn, FileClass::Refused},
    {"empty.bin", "", kOwn, FileClass::Refused},
    {"bm-lower.bin", "bm", kOwn, FileClass::Refused},
    {"b", "", kOwn, FileClass::Refused},
};

class ClassificationTable : public FileClassifierTest, public ::testing::WithParamInterface<Row> {};

TEST_P(ClassificationTable, EnablesTheOneFittingButton) {
    const Row& row = GetParam();
    const std::string path =
        row.length == kOwn ? dir.Write(row.name, row.content) : dir.Sparse(row.name, row.content, row.length);
    const int64_t length = row.length == kOwn ? static_cast<int64_t>(row.content.size()) : row.length;
    g_nUpgradeKind = KIND_EXE; // so that a refusal visibly leaves the kind alone
    state.m_bUpgradeDone = true;

    const bool recognised = classifier.ClassifyFile(path);

    EXPECT_EQ(recognised, row.expected != FileClass::Refused);
    EXPECT_EQ(state.m_nFileLength, length);
    EXPECT_TRUE(state.m_bUpgradeDone) << "a verdict is cleared by the next start packet, not here";
    if (row.expected == FileClass::Refused) {
        EXPECT_THAT(view.EnabledUpgradeButtons(), IsEmpty());
        EXPECT_EQ(g_nUpgradeKind, KIND_EXE);
        EXPECT_THAT(view.CallsStartingWith("box "),
                    ElementsAre(RecordingView::Plain("Not BIOS Upgrade file!")));
        EXPECT_THAT(view.CallsStartingWith("refresh"), IsEmpty());
    } else {
        EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(ButtonOfClass(row.expected)));
        EXPECT_EQ(g_nUpgradeKind, KindOfClass(row.expected));
        EXPECT_THAT(view.CallsStartingWith("box "), IsEmpty());
        EXPECT_EQ(view.boxes.m_strFileText, path);
    }
    // All seven buttons are set every time, and nothing else is touched.
    EXPECT_EQ(view.CallsStartingWith("enable ").size(), 7u);
    EXPECT_THAT(view.CallsStartingWith("text "), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Rules, ClassificationTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) {
                             std::string name;
                             for (const char* p = row.param.name; *p; ++p) {
                                 name.push_back(std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                             }
                             return name;
                         });

TEST(ClassifyUpgradeFile, ClassesGiveTheirKindsAndButtons) {
    EXPECT_EQ(KindOfClass(FileClass::Font), KIND_FONT);
    EXPECT_EQ(ButtonOfClass(FileClass::Font), 1011);
    EXPECT_EQ(KindOfClass(FileClass::Logo), KIND_LOGO);
    EXPECT_EQ(ButtonOfClass(FileClass::Logo), 1012);
    EXPECT_EQ(KindOfClass(FileClass::Web), KIND_WEB);
    EXPECT_EQ(ButtonOfClass(FileClass::Web), 1004);
    EXPECT_EQ(KindOfClass(FileClass::Bios), KIND_BIOS);
    EXPECT_EQ(ButtonOfClass(FileClass::Bios), 1003);
    EXPECT_EQ(KindOfClass(FileClass::BootLarge), KIND_BOOT);
    EXPECT_EQ(ButtonOfClass(FileClass::BootLarge), 1010);
    EXPECT_EQ(KindOfClass(FileClass::Boot), KIND_BOOT);
    EXPECT_EQ(ButtonOfClass(FileClass::Boot), 1005);
    EXPECT_EQ(KindOfClass(FileClass::Program), KIND_EXE);
    EXPECT_EQ(ButtonOfClass(FileClass::Program), 1015);
}

TEST(ClassifyUpgradeFile, ShortPathsGiveShortExtensions) {
    FileStart none;
    EXPECT_EQ(ClassifyUpgradeFile("mi", none, 0), FileClass::Web); // extension "MI"
    EXPECT_EQ(ClassifyUpgradeFile("i", none, 0), FileClass::Refused);
    EXPECT_EQ(ClassifyUpgradeFile("", none, 0), FileClass::Refused);
    EXPECT_EQ(ClassifyUpgradeFile("/a/xhzk", none, 0), FileClass::Font); // no dot needed
}

TEST_F(FileClassifierTest, DebugBiosSetsTheStatusLineInOrder) {
    const std::string path = dir.Write("debug.bin", "MZD-rest");
    view.boxes.m_strIP = "127.0.0.1";

    EXPECT_TRUE(classifier.ClassifyFile(path));

    EXPECT_THAT(view.Calls(),
                ElementsAre("take", RecordingView::Disabled(IDC_EXE), RecordingView::Enabled(IDC_BIOS),
                            RecordingView::Disabled(IDC_WEB), RecordingView::Disabled(IDC_BOOT),
                            RecordingView::Disabled(IDC_BOTH), RecordingView::Disabled(IDC_FONT),
                            RecordingView::Disabled(IDC_LOGO),
                            RecordingView::Status("Upgrade Debug BIOS program..."), RefreshLine(path)));
}

TEST_F(FileClassifierTest, OnlyABiosImageWithDAsThirdByteIsDebug) {
    classifier.ClassifyFile(dir.Write("two.bin", "MZ"));
    classifier.ClassifyFile(dir.Write("lower.bin", "MZd"));
    classifier.ClassifyFile(dir.Write("web.htm", "MZD"));
    classifier.ClassifyFile(dir.Write("prog.exe", "MZD"));
    EXPECT_THAT(view.CallsStartingWith("text "), IsEmpty());
}

TEST_F(FileClassifierTest, FileThatCannotBeOpenedChangesNothing) {
    classifier.ClassifyFile(dir.Write("font.hzk", "x"));
    state.m_nFileLength = 77;
    state.m_bUpgradeDone = true;
    view.ClearCalls();
    const std::string missing = dir / "missing.bin";

    EXPECT_FALSE(classifier.ClassifyFile(missing));
    EXPECT_FALSE(classifier.ClassifyFile(dir.path())); // a directory is no upgrade file either

    EXPECT_THAT(
        view.Calls(),
        ElementsAre("take",
                    RecordingView::Box("Error", MessageIcon::Error, "Open file " + missing + " ,failed"),
                    "take",
                    RecordingView::Box("Error", MessageIcon::Error,
                                       "Open file " + dir.path().string() + " ,failed")));
    EXPECT_EQ(g_nUpgradeKind, KIND_FONT);
    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_FONT));
    EXPECT_EQ(state.m_nFileLength, 77);
    EXPECT_TRUE(state.m_bUpgradeDone);
}

TEST_F(FileClassifierTest, FilesOfFourGigabytesAreRefusedClearly) {
    const std::string justFits = dir.Sparse("fits.bin", "MZ", 0xFFFFFFFFll);
    EXPECT_TRUE(classifier.ClassifyFile(justFits));
    EXPECT_EQ(state.m_nFileLength, 0xFFFFFFFFll);

    const std::string tooLarge = dir.Sparse("large.bin", "MZ", 0x100000000ll);
    EXPECT_FALSE(classifier.ClassifyFile(tooLarge));
    EXPECT_THAT(
        view.CallsStartingWith("box "),
        ElementsAre(RecordingView::Box("Error", MessageIcon::Error,
                                       "The file " + tooLarge + " is 4 GB or larger and cannot be sent!")));
    EXPECT_THAT(view.EnabledUpgradeButtons(), IsEmpty());
}

// --- Open files

TEST_F(FileClassifierTest, ChooseFilesClassifiesEachAndJoinsTheNames) {
    const std::string a = dir.Sparse("a.img", Bytes({0xC0, 0x80}), 1000000);
    const std::string b = dir.Sparse("b.img", Bytes({0xC0, 0x80}), 2000000);
    view.openFilesAnswer = std::vector<std::string>{a, b};

    classifier.ChooseFiles(false);

    // The second, larger boot image decides: Both, and its length is the one announced.
    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_BOTH));
    EXPECT_EQ(state.m_nFileLength, 2000000);
    EXPECT_EQ(state.m_nFileCount, 2);
    EXPECT_EQ(state.m_strFiles[0], a);
    EXPECT_EQ(state.m_strFiles[1], b);
    EXPECT_EQ(state.m_strFiles[2], "");
    EXPECT_EQ(view.boxes.m_strFileText, a + b);
    const auto calls = view.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "take");
    EXPECT_EQ(calls[1], "open-files");
    EXPECT_EQ(calls.back(), RefreshLine(a + b));
}

TEST_F(FileClassifierTest, ChooseFilesOfDifferentKindsIsRefused) {
    const std::string bios = dir.Write("main.bin", "MZ");
    const std::string web = dir.Write("index.htm", "<html>");
    const std::string font = dir.Write("font.hzk", "");
    view.openFilesAnswer = std::vector<std::string>{bios, web, font};

    classifier.ChooseFiles(false);

    EXPECT_THAT(view.CallsStartingWith("box "),
                ElementsAre(RecordingView::Plain("These files are not the same styles!")));
    EXPECT_THAT(view.EnabledUpgradeButtons(), IsEmpty());
    EXPECT_EQ(state.m_nFileCount, 3);
    EXPECT_EQ(state.m_strFiles[1], web);
    EXPECT_EQ(state.m_strFiles[2], "");       // never examined
    EXPECT_EQ(view.boxes.m_strFileText, web); // the last classified path
    // The mismatch message comes after the web file's refresh and is followed by the seven buttons.
    const auto calls = view.Calls();
    ASSERT_GE(calls.size(), 8u);
    EXPECT_EQ(calls[calls.size() - 8], RecordingView::Plain("These files are not the same styles!"));
}

TEST_F(FileClassifierTest, ChooseFilesCancelledKeepsTheEarlierChoice) {
    const std::string bios = dir.Write("main.bin", "MZ");
    view.openFilesAnswer = std::vector<std::string>{bios};
    classifier.ChooseFiles(false);
    view.ClearCalls();
    view.openFilesAnswer.reset();

    classifier.ChooseFiles(false);

    EXPECT_THAT(view.Calls(), ElementsAre("take", "open-files", RefreshLine(bios)));
    EXPECT_EQ(state.m_nFileCount, 1);
    EXPECT_EQ(state.m_strFiles[0], bios);
    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_BIOS));
}

TEST_F(FileClassifierTest, ChooseFilesDoesNothingWhileBusy) {
    view.openFilesAnswer = std::vector<std::string>{dir.Write("main.bin", "MZ")};
    classifier.ChooseFiles(true);
    EXPECT_THAT(view.Calls(), ElementsAre("take"));
    EXPECT_EQ(state.m_nFileCount, 0);
}

TEST_F(FileClassifierTest, MoreThanTenFilesAreRefusedWhole) {
    const std::string first = dir.Write("first.bin", "MZ");
    view.openFilesAnswer = std::vector<std::string>{first};
    classifier.ChooseFiles(false);
    view.ClearCalls();

    std::vector<std::string> eleven;
    for (int i = 0; i < 11; ++i) {
        eleven.push_back(dir.Write("f" + std::to_string(i) + ".bin", "MZ"));
    }
    view.openFilesAnswer = eleven;
    classifier.ChooseFiles(false);

    EXPECT_THAT(view.Calls(),
                ElementsAre("take", "open-files",
                            RecordingView::Plain("Too many files! At most 10 files can be sent at once."),
                            RefreshLine(first)));
    EXPECT_EQ(state.m_nFileCount, 1);
    EXPECT_EQ(state.m_strFiles[0], first);
    EXPECT_EQ(state.m_strFiles[1], "");
    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_BIOS));

    // Ten is fine.
    eleven.pop_back();
    view.openFilesAnswer = eleven;
    classifier.ChooseFiles(false);
    EXPECT_EQ(state.m_nFileCount, 10);
    EXPECT_EQ(state.m_strFiles[9], eleven[9]);
    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_BIOS));
}

TEST_F(FileClassifierTest, ARefusedFileInAChoiceLeavesNoButtonToSendIt) {
    const std::string junk = dir.Write("junk.dat", "??");
    view.openFilesAnswer = std::vector<std::string>{dir.Write("a.bin", "MZ"), junk, dir.Write("b.bin", "MZ")};
    classifier.ChooseFiles(false);
    EXPECT_THAT(view.CallsStartingWith("box "), ElementsAre(RecordingView::Plain("Not BIOS Upgrade file!")));
    EXPECT_THAT(view.EnabledUpgradeButtons(), IsEmpty());
    EXPECT_EQ(state.m_strFiles[2], "");

    view.ClearCalls();
    const std::string gone = dir / "gone.bin";
    view.openFilesAnswer = std::vector<std::string>{dir.Write("c.bin", "MZ"), gone, dir.Write("d.bin", "MZ")};
    classifier.ChooseFiles(false);
    EXPECT_THAT(
        view.CallsStartingWith("box "),
        ElementsAre(RecordingView::Box("Error", MessageIcon::Error, "Open file " + gone + " ,failed")));
    EXPECT_THAT(view.EnabledUpgradeButtons(), IsEmpty());
}

// --- drops and the command line

TEST_F(FileClassifierTest, DropIsRefusedWithoutConnectionOrWhileBusy) {
    const std::string bios = dir.Write("main.bin", "MZ");
    view.openFilesAnswer = std::vector<std::string>{bios};
    classifier.ChooseFiles(false);
    view.ClearCalls();
    const std::vector<std::string> dropped{dir.Write("index.htm", "<h")};

    classifier.AcceptDroppedFiles(dropped, false, false);
    classifier.AcceptDroppedFiles(dropped, true, true);

    EXPECT_THAT(view.Calls(), ElementsAre(RefreshLine(bios), RefreshLine(bios)));
    EXPECT_EQ(state.m_nFileCount, 1);
    EXPECT_EQ(state.m_strFiles[0], bios);
    EXPECT_EQ(g_nUpgradeKind, KIND_BIOS);
}

TEST_F(FileClassifierTest, DropFollowsTheSameRulesAsOpenFiles) {
    const std::string a = dir.Write("a.htm", "x");
    const std::string b = dir.Write("b.jpg", Bytes({0xFF, 0xD8}));
    classifier.AcceptDroppedFiles({a, b}, true, false);
    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_WEB));
    EXPECT_EQ(g_nUpgradeKind, KIND_WEB);
    EXPECT_EQ(state.m_nFileCount, 2);
    EXPECT_EQ(view.boxes.m_strFileText, a + b);
    EXPECT_THAT(view.CallsStartingWith("open-files"), IsEmpty());

    view.ClearCalls();
    classifier.AcceptDroppedFiles({dir.Write("logo.bmp", "BM"), dir.Write("f.hzk", "")}, true, false);
    EXPECT_THAT(view.CallsStartingWith("box "),
                ElementsAre(RecordingView::Plain("These files are not the same styles!")));
    EXPECT_THAT(view.EnabledUpgradeButtons(), IsEmpty());
}

TEST_F(FileClassifierTest, CommandLineFileIsTheOnlyChoice) {
    state.m_strFiles[3] = "stale";
    const std::string path = dir.Write("setup.exe", "MZ");

    classifier.ClassifyCommandLineFile(path);

    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_EXE));
    EXPECT_EQ(state.m_nFileCount, 1);
    EXPECT_EQ(state.m_strFiles[0], path);
    EXPECT_EQ(state.m_strFiles[3], "");
    EXPECT_EQ(view.boxes.m_strFileText, path);
    EXPECT_EQ(view.Calls().back(), RefreshLine(path));
}

} // namespace

// What a choice comes to, as the value the window and the command line both decide from: the
// button it enables (the same one the view shows enabled) or why none.
struct ChoiceRow {
    const char* label;
    std::vector<std::pair<std::string, std::string>> files; // name, content; "" name: missing file
    bool cancel = false;
    bool busy = false;
    int button;
    FileRefusal refusal;
};

void PrintTo(const ChoiceRow& row, std::ostream* os) {
    *os << row.label;
}

class ChoiceTable : public FileClassifierTest, public ::testing::WithParamInterface<ChoiceRow> {};

TEST_P(ChoiceTable, TellsTheButtonOrTheRefusal) {
    const ChoiceRow& row = GetParam();
    std::vector<std::string> paths;
    for (const auto& [name, content] : row.files) {
        paths.push_back(name.empty() ? dir / "missing.bin" : dir.Write(name, content));
    }
    if (!row.cancel) {
        view.openFilesAnswer = paths;
    }

    const Classification result = classifier.ChooseFiles(row.busy);

    EXPECT_EQ(result.button, row.button);
    EXPECT_EQ(result.refusal, row.refusal);
    EXPECT_EQ(result.Recognised(), row.refusal == FileRefusal::None);
    if (row.refusal == FileRefusal::None) {
        EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(row.button));
    } else {
        EXPECT_THAT(view.EnabledUpgradeButtons(), IsEmpty());
    }
}

std::vector<std::pair<std::string, std::string>> ElevenBiosFiles() {
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 11; ++i) {
        files.emplace_back("f" + std::to_string(i) + ".bin", "MZ");
    }
    return files;
}

INSTANTIATE_TEST_SUITE_P(
    Choices, ChoiceTable,
    ::testing::Values(
        ChoiceRow{"program", {{"setup.exe", "MZ"}}, false, false, IDC_EXE, FileRefusal::None},
        ChoiceRow{"two_bios", {{"a.bin", "MZ"}, {"b.bin", "VX"}}, false, false, IDC_BIOS, FileRefusal::None},
        ChoiceRow{"junk", {{"notes.txt", "hello"}}, false, false, 0, FileRefusal::NotUpgradeFile},
        ChoiceRow{"mixed", {{"a.bin", "MZ"}, {"f.hzk", ""}}, false, false, 0, FileRefusal::NotSameStyles},
        ChoiceRow{"missing", {{"", ""}}, false, false, 0, FileRefusal::NotOpened},
        ChoiceRow{"eleven", ElevenBiosFiles(), false, false, 0, FileRefusal::TooMany},
        ChoiceRow{"cancelled", {}, true, false, 0, FileRefusal::NoChoice},
        ChoiceRow{"busy", {{"a.bin", "MZ"}}, false, true, 0, FileRefusal::Busy}),
    [](const auto& row) { return std::string(row.param.label); });
