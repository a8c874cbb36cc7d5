#include "clientstore/ClientDataFile.h"

#include "clientstore/AtomicFile.h"
#include "clientstore/DataFileNodes.h"
#include "clientstore/password/Password.h"
#include "xml/XmlFile.h"
#include "xml/XmlParser.h"
#include "xml/XmlWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

using namespace datafile;

namespace {

ClientDataFile* g_file = nullptr;
std::filesystem::path g_pathOverride;
bool g_readOnly = false;

// How long a program waits for another one to finish with the data file: long enough for a
// registration from the command line, short enough for a script to hear of a busy file.
constexpr std::chrono::seconds kLockWait{5};

constexpr std::uint32_t kGrowthStep = 4;
constexpr unsigned kParseOptions = 0xFFFF; // every construct becomes a node, every value trimmed
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kCipherSize = 256; // the enciphered password with its terminator
constexpr int kPasswordForm = 1;
// A channel number is stored in 8 bits: beyond 256 channels the (type, channel) pairs repeat and
// the device could not get its channels.
constexpr std::int32_t kMaxChannels = 256;
// The store takes ids as signed numbers, so the counter stops at the largest positive one.
constexpr std::uint32_t kMaxId = INT32_MAX;

std::string decimal(std::uint32_t value) {
    return std::to_string(value);
}

// "line L (byte B)" for a position in the text.
std::string placeOf(const char* text, const char* at) {
    const auto line = 1 + std::count(text, at, '\n');
    return "line " + std::to_string(line) + " (byte " + std::to_string(at - text) + ")";
}

} // namespace

ClientDataFile* ClientDataFile::instance() {
    if (g_file == nullptr) {
        g_file = new ClientDataFile(g_pathOverride.empty() ? defaultPath() : g_pathOverride, g_readOnly);
    }
    return g_file;
}

void ClientDataFile::release() {
    delete g_file;
    g_file = nullptr;
}

void ClientDataFile::setPath(std::filesystem::path path) {
    g_pathOverride = std::move(path);
}

void ClientDataFile::setReadOnly(bool readOnly) {
    g_readOnly = readOnly;
}

std::filesystem::path ClientDataFile::defaultPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path folder = ec ? std::filesystem::current_path(ec) : exe.parent_path();
    return folder / "XML" / "Data.xml";
}

ClientDataFile::ClientDataFile(std::filesystem::path path, bool readOnly)
    : m_path(std::move(path)), m_readOnly(readOnly) {
    load(readOnly);
}

ClientDataFile::~ClientDataFile() = default;

void ClientDataFile::load(bool readOnly) {
    std::error_code ec;
    const bool link = std::filesystem::is_symlink(m_path, ec);
    if (link && !std::filesystem::exists(m_path, ec)) {
        m_loadError = "it is a symbolic link to " + std::filesystem::read_symlink(m_path, ec).string() +
                      ", which does not exist";
        return;
    }
    const std::string lockError = readOnly ? std::string() : lockIfFolderExists(kLockWait);
    m_loadError = readAndParse();
    if (!m_loadError.empty()) {
        // Nothing of a file that was not taken in whole is shown or used.
        m_parser.clear();
    } else {
        m_loadError = lockError;
    }
}

// The lock sits beside the file that a save replaces, whatever link leads to it.
std::filesystem::path ClientDataFile::lockTarget() const {
    std::error_code ec;
    if (std::filesystem::is_symlink(m_path, ec)) {
        const std::filesystem::path target = std::filesystem::weakly_canonical(m_path, ec);
        if (!ec) {
            return target;
        }
    }
    return m_path;
}

// Takes the lock unless it is held already. Without the file's folder there is nothing to guard
// yet (a save there fails on its own); a save takes the lock if the folder has come since.
std::string ClientDataFile::lockIfFolderExists(std::chrono::milliseconds wait) {
    if (m_lock.held()) {
        return {};
    }
    const std::filesystem::path lockAt = lockTarget();
    std::error_code ec;
    if (!std::filesystem::is_directory(lockAt.has_parent_path() ? lockAt.parent_path() : ".", ec)) {
        return {};
    }
    return m_lock.acquire(lockAt, wait);
}

// Reads the file whole and parses it; empty when that worked (or there is no file), else why not.
std::string ClientDataFile::readAndParse() {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
        return errno == ENOENT ? std::string() : std::string(std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return "it is not a regular file";
    }
    m_loaded = FileIdentity::of(st);
    char* buffer = nullptr;
    std::size_t count = 0;
    errno = 0;
    if (!loadTextFile(m_path.c_str(), &buffer, &count, kReadChunk)) {
        const int error = errno != 0 ? errno : EIO;
        std::free(buffer);
        if (st.st_size == 0) {
            return {}; // an empty file is an empty document
        }
        return std::string("it could not be read (") + std::strerror(error) + ")";
    }
    const char* text = buffer;
    // The parser takes the buffer over; the tree's names and values point into it.
    m_parser.parse(buffer, m_parser.document(), kGrowthStep, kParseOptions);
    return whyNotWhole(text, count, m_loaded);
}

// Only text that the tree holds can be written back; anything else would be lost on the next
// save, so such a file is refused whole.
std::string ClientDataFile::whyNotWhole(const char* text, std::size_t count,
                                        const FileIdentity& before) const {
    if (count != static_cast<std::size_t>(before.size)) {
        return "it could not be read whole (" + std::to_string(count) + " of " + std::to_string(before.size) +
               " bytes read)";
    }
    const std::size_t kept = std::strlen(text);
    if (kept != count) {
        return placeOf(text, text + kept) + ": it holds a zero byte, which a data file never does";
    }
    if (!(FileIdentity::of(m_path) == before)) {
        return "it was changed by another program while it was being read";
    }
    if (const char* why = m_parser.breakReason()) {
        return placeOf(text, m_parser.breakPosition()) + ": " + why +
               " (the text ends before its markup does)";
    }
    if (const char* stray = m_parser.passedOverText()) {
        if (!hasElement(m_parser.root())) {
            return placeOf(text, stray) +
                   ": text that is not XML, and not one element in the file: it is not a data file";
        }
        return placeOf(text, stray) + ": text outside any element, which a save would drop";
    }
    return {};
}

XmlNodeRef ClientDataFile::document() {
    return m_parser.root();
}

// Both the root and the sections are remembered once found: the store only ever appends, and
// what it appends comes after them in document order, so the first match stays the first.
XmlNodeRef ClientDataFile::root() {
    if (!m_root.isValid()) {
        XmlNodeRef doc = document();
        m_root = firstElement(doc, "DATAROOT");
        if (!m_root.isValid()) {
            m_root = doc.appendChild(NodeElement);
            m_root.setName("DATAROOT");
        }
    }
    return m_root;
}

XmlNodeRef ClientDataFile::section(const char* name) {
    const auto found = m_sections.find(std::string_view(name));
    if (found != m_sections.end()) {
        return found->second;
    }
    XmlNodeRef top = root();
    XmlNodeRef node = firstElement(top, name);
    if (!node.isValid()) {
        node = top.appendChild(NodeElement);
        node.setName(name);
    }
    if (node.isValid()) {
        m_sections.emplace(name, node);
    }
    return node;
}

std::uint32_t ClientDataFile::nextId() {
    XmlAttributeRef index = section("GLOBAL").attribute("index");
    std::uint32_t id = parseUnsigned(index.view());
    if (id == 0) {
        id = 1;
    }
    index.setUnsigned(id + 1);
    return id;
}

bool ClientDataFile::save() {
    m_saveError.clear();
    if (m_readOnly) {
        m_saveError = "it was opened for reading only";
        return false;
    }
    if (!m_loadError.empty()) {
        m_saveError = m_loadError;
        return false;
    }
    if (std::string lockError = lockIfFolderExists(std::chrono::milliseconds(0)); !lockError.empty()) {
        m_saveError = std::move(lockError);
        return false;
    }
    ReplaceOptions options;
    options.newFileMode = 0600; // the passwords' cipher is no secret: only the owner may read them
    options.beforeRename = [this]() -> std::string {
        if (FileIdentity::of(m_path) == m_loaded) {
            return {};
        }
        return "it was changed by another program after it was loaded; that version is left as it is";
    };
    const XmlNodeRef doc = document();
    const bool saved = replaceFileAtomically(
        m_path,
        [&](std::ostream& file) {
            // The client reads the file as Windows text: every line break reaches the disk as CR LF.
            CrLfStreamBuf crlf(file.rdbuf());
            std::ostream out(&crlf);
            writeDocument(out, doc);
            out.flush();
            if (!out) {
                file.setstate(std::ios::badbit);
            }
        },
        &m_saveError, options);
    if (saved) {
        m_loaded = FileIdentity::of(m_path); // the next save replaces this version
    }
    return saved;
}

std::uint32_t ClientDataFile::findDeviceByAddress(const char* host, std::uint32_t port) {
    if (host == nullptr) {
        return 0;
    }
    return findDevice(section("DEVINFO"), [&](XmlNodeRef dev) {
        // Every compared attribute is read (and so added when missing) before comparing.
        const std::string_view devHost = readText(dev, "host");
        const std::uint32_t devPort = readUnsigned(dev, "port");
        return devHost == host && devPort == port;
    });
}

int ClientDataFile::deviceCount() {
    return static_cast<int>(section("DEVINFO").childCount());
}

std::uint32_t ClientDataFile::findDeviceByName(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    return findDevice(section("DEVINFO"), [&](XmlNodeRef dev) { return readText(dev, "name") == name; });
}

std::uint32_t ClientDataFile::findDeviceByDdns(const char* host, const char* ddnsHost,
                                               std::uint32_t ddnsPort) {
    if (host == nullptr || ddnsHost == nullptr) {
        return 0;
    }
    return findDevice(section("DEVINFO"), [&](XmlNodeRef dev) {
        const std::string devHost(readText(dev, "host"));
        const std::string devDdnsHost(readText(dev, "DDNSHost"));
        const std::uint32_t devDdnsPort = readUnsigned(dev, "DDNSPort");
        return devHost == host && devDdnsHost == ddnsHost && devDdnsPort == ddnsPort;
    });
}

int ClientDataFile::getDevices(DeviceRecord* records, int length) {
    if (records == nullptr) {
        return 0;
    }
    XmlNodeRef devinfo = section("DEVINFO");
    const std::size_t n = devinfo.childCount();
    if (static_cast<long long>(n) * static_cast<long long>(sizeof(DeviceRecord)) > length) {
        return 0;
    }
    for (std::size_t i = 0; i < n; ++i) {
        XmlNodeRef dev = devinfo.child(i);
        if (!isElement(dev, "DEV")) {
            continue;
        }
        DeviceRecord& r = records[i];
        r = DeviceRecord{};
        // This order is the order in which a device that lacks them gains the attributes.
        r.id = readUnsigned(dev, "id");
        r.channelCount = static_cast<std::uint16_t>(readUnsigned(dev, "cameras"));
        r.ip = readUnsigned(dev, "ip");
        r.port = readUnsigned(dev, "port");
        r.ddnsFlag = static_cast<std::uint8_t>(readUnsigned(dev, "ddnsFlag"));
        r.ddnsPort = readUnsigned(dev, "DDNSPort");
        r.orgId = readUnsigned(dev, "OrgId");
        readField(r.host, dev, "host");
        readField(r.name, dev, "name");
        readField(r.username, dev, "username");
        readField(r.ddnsHost, dev, "DDNSHost");
        char cipher[kCipherSize] = {};
        copyToField(cipher, readText(dev, "password"));
        DecryptStringEX(cipher, r.password, kPasswordForm);
    }
    return 1;
}

// Creates the child of `device` for one channel unless the device already has a child with the
// same (type, channel) pair.
static void addChannel(ClientDataFile& file, XmlNodeRef device, std::uint16_t type, std::uint8_t channel,
                       const std::string& name) {
    const std::size_t n = device.childCount();
    for (std::size_t i = 0; i < n; ++i) {
        XmlNodeRef child = device.child(i);
        if (child.kind() == NodeElement && static_cast<std::uint16_t>(readUnsigned(child, "type")) == type &&
            static_cast<std::uint8_t>(readUnsigned(child, "channel")) == channel) {
            return;
        }
    }
    const std::uint32_t id = file.nextId();
    XmlNodeRef dev = device.appendChild(NodeElement);
    dev.setName("DEV");
    setNumber(dev, "id", id);
    setNumber(dev, "type", type);
    setText(dev, "name", name);
    setNumber(dev, "channel", channel);
    setText(dev, "desc", "");
}

int ClientDataFile::addDevices(DeviceRecord* records, int length) {
    if (records == nullptr || length < static_cast<int>(sizeof(DeviceRecord))) {
        return 0;
    }
    XmlNodeRef devinfo = section("DEVINFO");
    const std::size_t count = static_cast<std::size_t>(length) / sizeof(DeviceRecord);
    for (std::size_t k = 0; k < count; ++k) {
        if (!addDevice(devinfo, records[k])) {
            return 0;
        }
    }
    return 1;
}

bool ClientDataFile::refusesDevice(XmlNodeRef devinfo, const DeviceRecord& record) {
    const std::string_view name = fieldText(record.name);
    const std::size_t existing = devinfo.childCount();
    for (std::size_t i = 0; i < existing; ++i) {
        XmlNodeRef child = devinfo.child(i);
        if (child.kind() == NodeElement && readText(child, "name") == name) {
            return true;
        }
    }
    if (firstUnstorableText(record)) {
        return true;
    }
    const std::int32_t channels = std::max<std::int32_t>(record.channelCount, 0);
    if (channels > kMaxChannels) {
        return true;
    }
    const std::uint32_t first =
        std::max<std::uint32_t>(parseUnsigned(section("GLOBAL").attribute("index").view()), 1);
    return first > kMaxId || kMaxId - first < 2 * static_cast<std::uint32_t>(channels);
}

bool ClientDataFile::addDevice(XmlNodeRef devinfo, DeviceRecord& record) {
    // Everything that could refuse the device is checked before the document changes.
    if (refusesDevice(devinfo, record)) {
        return false;
    }
    // A password the library could not encipher would be stored empty and lost without a word.
    const std::string plain(fieldText(record.password));
    char cipher[kCipherSize] = {};
    if (EncryptStringEX(plain.c_str(), cipher, kPasswordForm) == 0) {
        return false;
    }
    const std::string name(fieldText(record.name));
    const std::uint32_t id = nextId();
    XmlNodeRef dev = devinfo.appendChild(NodeElement);
    if (!dev.setName("DEV")) {
        return false;
    }
    setNumber(dev, "id", id);
    setNumber(dev, "ip", id); // provisional; the record's value replaces it below, in place
    setText(dev, "name", name);
    setText(dev, "host", fieldText(record.host));
    setNumber(dev, "port", static_cast<std::uint16_t>(record.port));
    setNumber(dev, "cameras", static_cast<std::uint16_t>(record.channelCount));

    setNumber(dev, "ip", record.ip);
    setNumber(dev, "ddnsFlag", static_cast<std::uint8_t>(record.ddnsFlag));
    setText(dev, "DDNSHost", fieldText(record.ddnsHost));
    setNumber(dev, "DDNSPort", record.ddnsPort);
    setText(dev, "desc", "");
    setText(dev, "username", fieldText(record.username));
    setNumber(dev, "OrgId", record.orgId);
    setText(dev, "password", cipher);

    record.id = readUnsigned(dev, "id");

    const std::int32_t channels = std::max<std::int32_t>(record.channelCount, 0);
    for (std::int32_t n = 1; n <= channels; ++n) {
        const auto channel = static_cast<std::uint8_t>(n - 1);
        addChannel(*this, dev, 0, channel, name + "_" + std::to_string(n));
        addChannel(*this, dev, 1, channel, name + "_alarm" + std::to_string(n));
    }
    return true;
}

int ClientDataFile::setCameraTypes(std::uint32_t id, const std::int32_t* codes, int count) {
    if (codes == nullptr) {
        return 0;
    }
    XmlNodeRef dev = section("DEVINFO").firstWithAttribute("DEV", "id", decimal(id).c_str(), -1);
    if (!dev.isValid()) {
        return 0;
    }
    // A channel number reads as 8 bits, so no channel answers to 256 or more.
    const int last = std::min(count, kMaxChannels);
    const std::size_t n = dev.childCount();
    for (int i = 0; i < last; ++i) {
        for (std::size_t c = 0; c < n; ++c) {
            XmlNodeRef child = dev.child(c);
            if (child.kind() == NodeElement && static_cast<std::uint16_t>(readUnsigned(child, "type")) == 0 &&
                static_cast<std::uint8_t>(readUnsigned(child, "channel")) == i) {
                setNumber(child, "CameraType", static_cast<std::uint8_t>(codes[i]));
                break;
            }
        }
    }
    return 1;
}

// The node of organisation `id`: ORGINFO itself for 0, else the first ORG below it whose id text
// is the decimal text of `id` (so an id written "007" is not found as 7).
XmlNodeRef ClientDataFile::organisation(std::uint32_t id) {
    XmlNodeRef orginfo = section("ORGINFO");
    if (id == 0) {
        return orginfo;
    }
    if (!m_orgIndexBuilt) {
        buildOrgIndex(orginfo);
    }
    const auto found = m_orgIndex.find(decimal(id));
    return found != m_orgIndex.end() ? found->second : XmlNodeRef();
}

// Looking each organisation up by a walk of ORGINFO would make loading the tree quadratic in its
// size, so the first ORG of each id text is noted in one walk. The notes stay right for the life of
// the document: the tool never adds, moves or renames an ORG, and the only id it ever gives one is
// the empty value of get-or-add access, which no lookup asks for.
void ClientDataFile::buildOrgIndex(XmlNodeRef orginfo) {
    m_orgIndexBuilt = true;
    walkBelow(orginfo, [this](const XmlNodeRef& node) {
        if (node.name() == "ORG") {
            const int at = node.attributeIndex("id");
            if (at >= 0) {
                m_orgIndex.emplace(node.attributeAt(static_cast<std::size_t>(at)).view(), node);
            }
        }
        return false;
    });
}

int ClientDataFile::orgChildCount(std::uint32_t id) {
    return static_cast<int>(organisation(id).childCount());
}

int ClientDataFile::getOrgChildren(std::uint32_t id, OrgListEntry* entries, int length) {
    if (entries == nullptr) {
        return 0;
    }
    XmlNodeRef org = organisation(id);
    if (!org.isValid()) {
        return 1;
    }
    const std::size_t n = org.childCount();
    if (static_cast<long long>(n) * static_cast<long long>(sizeof(OrgListEntry)) > length) {
        return 0;
    }
    for (std::size_t i = 0; i < n; ++i) {
        XmlNodeRef child = org.child(i);
        if (isElement(child, "ORG")) {
            entries[i].id = readUnsigned(child, "id");
            copyToField(entries[i].name, readText(child, "name"));
        }
    }
    return 1;
}

std::string_view ClientDataFile::whyNotStorable(std::string_view text) {
    if (!isWritableValue(text)) {
        return "holds both a double and a single quote";
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 32) {
            return "holds a control character";
        }
    }
    if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) {
        return "begins or ends with a blank";
    }
    return {};
}

std::optional<UnstorableText> ClientDataFile::firstUnstorableText(const DeviceRecord& record) {
    const std::pair<RecordText, std::string_view> texts[] = {
        {RecordText::Name, fieldText(record.name)},
        {RecordText::Host, fieldText(record.host)},
        {RecordText::UserName, fieldText(record.username)},
        {RecordText::DdnsHost, fieldText(record.ddnsHost)}};
    for (const auto& [field, text] : texts) {
        if (const std::string_view why = whyNotStorable(text); !why.empty()) {
            return UnstorableText{field, why};
        }
    }
    return std::nullopt;
}
