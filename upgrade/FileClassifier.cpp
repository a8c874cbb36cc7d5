#include "upgrade/FileClassifier.h"

#include "upgrade/SessionFile.h"
#include "upgrade/UpgradeIds.h"

#include <limits>

namespace {

// The last three characters of the path in capitals (fewer for a shorter path).
std::string Extension(std::string_view path) {
    std::string ext(path.substr(path.size() < 3 ? 0 : path.size() - 3));
    for (char& c : ext) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return ext;
}

// The first two bytes read as text: it ends at the first zero byte.
std::string Magic(const FileStart& start) {
    std::string magic;
    for (size_t i = 0; i < 2 && start.bytes[i] != 0; ++i) {
        magic.push_back(static_cast<char>(start.bytes[i]));
    }
    return magic;
}

} // namespace

FileClass ClassifyUpgradeFile(std::string_view path, const FileStart& start, int64_t length) {
    const std::string ext = Extension(path);
    const std::string lastTwo = ext.size() < 2 ? ext : ext.substr(ext.size() - 2);
    const std::string magic = Magic(start);
    const uint8_t b0 = start.bytes[0];
    const uint8_t b1 = start.bytes[1];
    const bool bootSignature = b0 == 0xC0 && b1 == 0x80;

    if (ext == "HZK") {
        return FileClass::Font;
    }
    if (magic == "BM") {
        return FileClass::Logo;
    }
    if (b0 == 0xFF && b1 == 0xD8) {
        return FileClass::Web;
    }
    if (magic == "MS" || magic == "<h" || magic == "U") {
        return FileClass::Web;
    }
    if (lastTwo == "MI" && !bootSignature) {
        return FileClass::Web;
    }
    if (ext == "HTM") {
        return FileClass::Web;
    }
    if ((magic == "VX" || magic == "MZ" || magic == "PK") && ext != "EXE") {
        return FileClass::Bios;
    }
    if (lastTwo == "MI") {
        return FileClass::Bios;
    }
    if (bootSignature) {
        return length > kLargeBootLength ? FileClass::BootLarge : FileClass::Boot;
    }
    if (ext == "EXE" || magic == "PL") {
        return FileClass::Program;
    }
    return FileClass::Refused;
}

UpgradeKind KindOfClass(FileClass c) {
    switch (c) {
    case FileClass::Font:
        return KIND_FONT;
    case FileClass::Logo:
        return KIND_LOGO;
    case FileClass::Web:
        return KIND_WEB;
    case FileClass::Bios:
    case FileClass::Refused:
        return KIND_BIOS;
    case FileClass::BootLarge:
    case FileClass::Boot:
        return KIND_BOOT;
    case FileClass::Program:
        return KIND_EXE;
    }
    return KIND_BIOS;
}

int ButtonOfClass(FileClass c) {
    switch (c) {
    case FileClass::Font:
        return IDC_FONT;
    case FileClass::Logo:
        return IDC_LOGO;
    case FileClass::Web:
        return IDC_WEB;
    case FileClass::Bios:
        return IDC_BIOS;
    case FileClass::BootLarge:
        return IDC_BOTH;
    case FileClass::Boot:
        return IDC_BOOT;
    case FileClass::Program:
        return IDC_EXE;
    case FileClass::Refused:
        break;
    }
    return 0;
}

std::string OpenFailedText(const std::string& path) {
    return "Open file " + path + " ,failed";
}

std::string TooLargeText(const std::string& path) {
    return "The file " + path + " is 4 GB or larger and cannot be sent!";
}

void CFileClassifier::EnableOnly(int button) {
    for (int id : kUpgradeButtons) {
        m_view.EnableControl(id, id == button);
    }
}

bool CFileClassifier::ClassifyFile(const std::string& path) {
    return Classify(path).Recognised();
}

Classification CFileClassifier::Classify(const std::string& path) {
    m_view.TakeForm(m_state.m_form);
    m_state.m_form.m_strFileText = path;

    CSessionFile file;
    if (!file.Open(path)) {
        m_view.MessageBox(OpenFailedText(path), "Error", MessageIcon::Error);
        return {0, FileRefusal::NotOpened};
    }
    const int64_t length = file.Length();
    m_state.m_nFileLength = length;
    m_state.m_nBytesSent = 0;
    m_state.m_nChunksSent = 0;

    FileStart start;
    start.count = file.Read(start.bytes, sizeof start.bytes);
    file.Close();

    // The start packet announces the length in 32 bits; a longer file would be announced wrongly
    // and its chunks counted past what the recorder expects.
    const bool tooLarge = length > int64_t{std::numeric_limits<uint32_t>::max()};
    const FileClass cls = tooLarge ? FileClass::Refused : ClassifyUpgradeFile(path, start, length);
    if (cls == FileClass::Refused) {
        if (tooLarge) {
            m_view.MessageBox(TooLargeText(path), "Error", MessageIcon::Error);
        } else {
            m_view.MessageBox(kNotUpgradeFile, kProgramName, MessageIcon::Exclamation);
        }
        EnableOnly(0);
        return {0, tooLarge ? FileRefusal::TooLarge : FileRefusal::NotUpgradeFile};
    }

    g_nUpgradeKind = KindOfClass(cls);
    EnableOnly(ButtonOfClass(cls));
    if (cls == FileClass::Bios && start.count >= 3 && start.bytes[2] == 'D') {
        m_view.SetControlText(IDC_STATUS, kDebugBiosStatus);
    }
    m_view.RefreshForm(m_state.m_form);
    return {ButtonOfClass(cls), FileRefusal::None};
}

Classification CFileClassifier::ChooseFiles(bool busy) {
    m_view.TakeForm(m_state.m_form);
    if (busy) {
        return {0, FileRefusal::Busy};
    }
    std::vector<std::string> paths;
    if (!m_view.AskOpenFiles(paths) || paths.empty()) {
        m_view.RefreshForm(m_state.m_form);
        return {0, FileRefusal::NoChoice};
    }
    return ClassifyChoice(paths);
}

Classification CFileClassifier::AcceptDroppedFiles(const std::vector<std::string>& paths, bool connected,
                                                   bool busy) {
    // A refused drop leaves the earlier choice whole: a running upgrade works on its own copy, and
    // the buttons it left enabled still send exactly the files it classified.
    if (!connected || busy || paths.empty()) {
        m_view.RefreshForm(m_state.m_form);
        return {0, busy ? FileRefusal::Busy : !connected ? FileRefusal::NotConnected : FileRefusal::NoChoice};
    }
    return ClassifyChoice(paths);
}

Classification CFileClassifier::ClassifyChoice(const std::vector<std::string>& paths) {
    if (paths.size() > static_cast<size_t>(kMaxUpgradeFiles)) {
        // Refused whole rather than cut: sending some of the files the user chose is not what
        // they asked for. The earlier choice stays.
        m_view.MessageBox(kTooManyFiles, kProgramName, MessageIcon::Exclamation);
        m_view.RefreshForm(m_state.m_form);
        return {0, FileRefusal::TooMany};
    }
    for (auto& entry : m_state.m_strFiles) {
        entry.clear();
    }
    m_state.m_nFileCount = static_cast<int>(paths.size());

    UpgradeKind firstKind = g_nUpgradeKind;
    Classification result;
    for (size_t i = 0; i < paths.size(); ++i) {
        m_state.m_strFiles[i] = paths[i];
        result = Classify(paths[i]);
        if (!result.Recognised()) {
            // The file stays in the list of files to send, so no button may stay enabled: a later
            // file of a known kind would otherwise send this one along with it.
            if (result.refusal == FileRefusal::NotOpened) {
                EnableOnly(0);
            }
            return result;
        }
        if (i == 0) {
            firstKind = g_nUpgradeKind;
        } else if (g_nUpgradeKind != firstKind) {
            m_view.MessageBox(kNotSameStyles, kProgramName, MessageIcon::Exclamation);
            EnableOnly(0);
            return {0, FileRefusal::NotSameStyles};
        }
    }
    std::string joined;
    for (const auto& p : paths) {
        joined += p;
    }
    m_state.m_form.m_strFileText = joined;
    m_view.RefreshForm(m_state.m_form);
    return result;
}

Classification CFileClassifier::ClassifyCommandLineFile(const std::string& path) {
    m_state.m_form.m_strFileText.clear();
    for (auto& entry : m_state.m_strFiles) {
        entry.clear();
    }
    const Classification result = Classify(path);
    m_state.m_form.m_strFileText = path;
    m_state.m_strFiles[0] = path;
    m_state.m_nFileCount = 1;
    m_view.RefreshForm(m_state.m_form);
    return result;
}
