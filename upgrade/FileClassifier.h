// Upgrade file classification: which kind of upgrade a file is, from the last three letters of its
// path and its first two bytes, and the three ways files are chosen (Open files, a drop on the
// window, the command line). A recognised file sets g_nUpgradeKind and leaves exactly the one
// fitting upgrade button enabled.
#pragma once

#include "upgrade/UpgradeState.h"
#include "upgrade/UpgradeView.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class FileClass {
    Refused, // no rule matched
    Font,
    Logo,
    Web,
    Bios,
    BootLarge, // boot image longer than kLargeBootLength: sent with Both
    Boot,
    Program,
};

// Boot images longer than this go with the Both button, shorter ones with Boot.
inline constexpr int64_t kLargeBootLength = 1202180;

// The first bytes of a file as far as it has them.
struct FileStart {
    uint8_t bytes[3] = {0, 0, 0}; // missing bytes count as zero
    size_t count = 0;             // 0 to 3: how many the file really has
};

// Applies the classification rules, in their order, to a file's path, first bytes and length.
FileClass ClassifyUpgradeFile(std::string_view path, const FileStart& start, int64_t length);

// The kind a class sends and the one upgrade button it enables (Refused: neither).
UpgradeKind KindOfClass(FileClass c);
int ButtonOfClass(FileClass c);

// The messages of classification.
inline constexpr const char* kNotUpgradeFile = "Not BIOS Upgrade file!";
inline constexpr const char* kNotSameStyles = "These files are not the same styles!";
inline constexpr const char* kDebugBiosStatus = "Upgrade Debug BIOS program...";
inline constexpr const char* kTooManyFiles = "Too many files! At most 10 files can be sent at once.";

// "Open file <path> ,failed", caption "Error": a file that cannot be opened.
std::string OpenFailedText(const std::string& path);
// A file longer than a start packet can announce (4 GiB and more).
std::string TooLargeText(const std::string& path);

// Why a choice of files leaves no upgrade button enabled.
enum class FileRefusal {
    None,           // recognised: `button` is enabled
    NoChoice,       // the file dialog was cancelled, or nothing was dropped
    Busy,           // an upgrade is running
    NotConnected,   // files dropped without a connection
    TooMany,        // more than kMaxUpgradeFiles
    NotOpened,      // a file cannot be opened
    TooLarge,       // a file too long for a start packet
    NotUpgradeFile, // a file of no known kind
    NotSameStyles,  // files of different kinds
};

// What a choice of files came to: the one upgrade button it enabled, or why none. The window
// enables the button from it and the command-line tool decides from it.
struct Classification {
    int button = 0; // 0 when refused
    FileRefusal refusal = FileRefusal::NoChoice;
    bool Recognised() const { return refusal == FileRefusal::None; }
};

// Classification over the session's state, on the window's thread.
class CFileClassifier {
public:
    CFileClassifier(CUpgradeState& state, CUpgradeView& view) : m_state(state), m_view(view) {}

    // Classifies one file: its kind into g_nUpgradeKind, its length into m_nFileLength, the
    // fitting upgrade button enabled and the six others disabled. True when the file was
    // recognised; false when it was refused ("Not BIOS Upgrade file!", all seven buttons
    // disabled) or could not be opened (message, nothing else changes).
    bool ClassifyFile(const std::string& path);

    // Open files: the file dialog, then each chosen file in turn (nothing while `busy`).
    Classification ChooseFiles(bool busy);

    // Files dropped on the window; refused without a connection or while `busy`.
    Classification AcceptDroppedFiles(const std::vector<std::string>& paths, bool connected, bool busy);

    // The one file named on the program's command line.
    Classification ClassifyCommandLineFile(const std::string& path);

private:
    Classification Classify(const std::string& path);
    Classification ClassifyChoice(const std::vector<std::string>& paths);
    void EnableOnly(int button);

    CUpgradeState& m_state;
    CUpgradeView& m_view;
};
