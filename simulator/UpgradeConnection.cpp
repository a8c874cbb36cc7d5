#include "simulator/UpgradeConnection.h"

#include "simulator/PackageCheck.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

using H = PacketHeader;

// A package is checked whole, so it is held in memory; nothing the package builder can make
// (an image of at most 272 MB in a zip) comes near this.
constexpr uint64_t kLargestPackage = 320ull * 1024 * 1024;

const char* verdictWord(Verdict v) {
    switch (v) {
    case Verdict::Progress:
        return "progress";
    case Verdict::Right:
        return "right";
    case Verdict::Error:
        return "error";
    case Verdict::Silence:
        return "silence";
    case Verdict::Drop:
        return "drop";
    }
    return "?";
}

std::string asciiLower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Opens a new file in dir without ever replacing one: a name already taken gets a suffix.
int createSaveFile(const std::string& dir, const std::string& base, std::string& path) {
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        path = dir;
        path += '/';
        path += base;
        if (attempt > 1)
            path += '-' + std::to_string(attempt);
        path += ".bin";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(size_t(n));
    }
    return true;
}

std::string errnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

} // namespace

std::string summaryLine(const UpgradeRecord& u) {
    uint64_t bytes = 0;
    for (const auto& f : u.files)
        bytes += f.size;
    std::string line = "upgrade " + std::to_string(u.number) + ": " + kindName(u.kind) + ", " +
                       std::to_string(u.files.size()) + (u.files.size() == 1 ? " file, " : " files, ") +
                       std::to_string(bytes) + " bytes";
    for (size_t i = 0; i < u.files.size(); ++i) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", u.files[i].crc32);
        line += (i == 0 ? " (crc32 " : " ") + std::string(crc);
    }
    if (!u.files.empty())
        line += ")";
    line += ", announced " + std::to_string(u.announcedLength);
    if (!u.complete)
        line += ", incomplete";
    line += ", verdict " + u.verdict;
    if (!u.problem.empty())
        line += ": " + u.problem;
    return line;
}

struct UpgradeConnection::Active {
    UpgradeRecord record;
    bool fileOpen = false;
    ReceivedFile file;
    uint32_t nextChunk = 0;
    // The last chunk of the open file was short, so it must have been its last.
    bool shortChunkSeen = false;
    uint64_t bytes = 0;
    bool stalled = false;
    int saveFd = -1;
};

UpgradeConnection::UpgradeConnection(const UpgradeBehaviour& behaviour, UpgradeObserver& observer)
    : m_behaviour(behaviour), m_observer(observer) {}

UpgradeConnection::~UpgradeConnection() {
    finish("connection ended");
}

void UpgradeConnection::receive(std::span<const uint8_t> bytes, Clock::time_point now) {
    if (m_close || m_finished)
        return;
    occupyLink(bytes.size(), now);
    // A packet cut by the end of the last read is completed first, with only the bytes it lacks;
    // whole packets are then handled straight from the caller's buffer, so that only a packet cut
    // again by the end of this read is copied.
    while (!m_input.empty() && !bytes.empty()) {
        size_t whole = heldPacketSize();
        size_t take = std::min(whole - std::min(whole, m_input.size()), bytes.size());
        m_input.insert(m_input.end(), bytes.begin(), bytes.begin() + ptrdiff_t(take));
        bytes = bytes.subspan(take);
        // A header just completed tells how much payload is still to come.
        if (m_input.size() < heldPacketSize())
            continue;
        process(now);
        if (m_close)
            return;
        if (!m_input.empty() || stalled(now))
            break;
    }
    if (!m_input.empty() || stalled(now)) {
        m_input.insert(m_input.end(), bytes.begin(), bytes.end());
        return;
    }
    size_t used = consume(bytes, now);
    m_input.assign(bytes.begin() + ptrdiff_t(used), bytes.end());
}

size_t UpgradeConnection::heldPacketSize() const {
    if (m_input.size() < H::kSize)
        return H::kSize;
    uint32_t length = LittleEndian::Read32(&m_input[H::kPayloadLength]);
    // An oversized claim is refused on its header alone.
    return H::kSize + (length > kMaxDataPayload ? 0 : length);
}

void UpgradeConnection::process(Clock::time_point now) {
    size_t used = consume(m_input, now);
    m_input.erase(m_input.begin(), m_input.begin() + ptrdiff_t(used));
}

size_t UpgradeConnection::consume(std::span<const uint8_t> bytes, Clock::time_point now) {
    size_t at = 0;
    while (!m_close && !stalled(now) && bytes.size() - at >= H::kSize) {
        std::span<const uint8_t> rest = bytes.subspan(at);
        uint32_t length = LittleEndian::Read32(&rest[H::kPayloadLength]);
        // The tool never sends more than one chunk in a packet; a longer claim means the
        // stream is out of step, and nothing after it can be trusted.
        if (length > kMaxDataPayload) {
            std::string text = "a packet announces a payload of " + std::to_string(length) +
                               " bytes, more than 1024; the stream cannot be followed";
            m_observer.fault(text);
            if (m_active) {
                fail(text);
                conclude(now);
            }
            m_close = true;
            break;
        }
        if (rest.size() < H::kSize + length)
            break;
        handle(rest.first(H::kSize + length), now);
        at += H::kSize + length;
    }
    return at;
}

void UpgradeConnection::handle(std::span<const uint8_t> message, Clock::time_point now) {
    CheckedRequest r = checkRequest(message);
    switch (r.event.type) {
    case RequestType::Login:
        onLogin(r);
        break;
    case RequestType::Start:
        onStart(r, now);
        break;
    case RequestType::Data:
        onData(r, now);
        break;
    case RequestType::End:
        onEnd(r, now);
        break;
    case RequestType::SetMac:
        if (r.fault.empty())
            m_observer.macValue(r.event.macValue);
        else
            m_observer.fault(r.fault);
        break;
    case RequestType::Unknown:
        // A recorder ignores what it does not know, but an upgrade in progress cannot be
        // trusted after a packet of its own command that made no sense.
        m_observer.fault(r.fault);
        if (r.command == CMD_UPGRADE && m_active)
            fail(r.fault);
        break;
    }
}

void UpgradeConnection::onLogin(const CheckedRequest& r) {
    // The fields are 8 and 12 bytes wide: an account with a longer name or password is
    // matched on what fits.
    std::string user = m_behaviour.user.substr(0, PacketHeader::kLoginUserSize);
    std::string password = m_behaviour.password.substr(0, PacketHeader::kLoginPasswordSize);
    if (!r.fault.empty())
        m_observer.fault(r.fault);
    bool accepted = r.fault.empty() && r.event.user == user && r.event.password == password;
    m_loggedIn = accepted;
    send(BuildLoginReply(accepted ? H::kLoginAccepted : H::kLoginRefused));
    if (accepted && !m_behaviour.wordWithLogin.empty())
        send(BuildUpgradeReply(m_behaviour.wordWithLogin, 0, 0));
    m_observer.loginAttempt(r.event.user, r.event.password, accepted);
}

void UpgradeConnection::onStart(const CheckedRequest& r, Clock::time_point now) {
    // A new start ends whatever came before it: the previous upgrade gets its verdict now.
    if (m_active)
        conclude(now);
    stopProgress();
    m_active = std::make_unique<Active>();
    m_active->record.number = m_observer.nextUpgradeNumber();
    m_active->record.kind = r.event.kind;
    m_active->record.announcedLength = r.event.fileLength;
    if (!r.fault.empty()) {
        m_observer.fault(r.fault);
        fail(r.fault);
    }
    if (!m_loggedIn)
        fail("upgrade started on a connection without an accepted login");
    if (m_behaviour.replyStart)
        send(BuildUpgradeReply("start", 0, 0));
    if (m_behaviour.stall.count() > 0 && m_behaviour.stallAfterBytes == 0) {
        m_active->stalled = true;
        m_stallUntil = now + m_behaviour.stall;
    }
}

void UpgradeConnection::ensureUpgrade(const std::string& missing) {
    if (m_active)
        return;
    m_active = std::make_unique<Active>();
    m_active->record.number = m_observer.nextUpgradeNumber();
    m_observer.fault(missing);
    fail(missing);
}

void UpgradeConnection::fail(const std::string& problem) {
    if (m_active && m_active->record.problem.empty())
        m_active->record.problem = problem;
}

void UpgradeConnection::onData(const CheckedRequest& r, Clock::time_point now) {
    m_settleAt.reset();
    ensureUpgrade("data packet without a start packet");
    Active& a = *m_active;
    // Made only for a fault: this runs for every kilobyte of every upgrade.
    auto fileLabel = [&a] { return "file " + std::to_string(a.record.files.size() + 1); };
    if (!r.fault.empty()) {
        m_observer.fault(r.fault);
        fail(fileLabel() + ": " + r.fault);
    }
    if (!a.fileOpen) {
        a.fileOpen = true;
        a.file = ReceivedFile{};
        a.file.crc32 = libdeflate_crc32(0, nullptr, 0);
        a.nextChunk = 0;
        a.shortChunkSeen = false;
        if (!m_behaviour.saveDir.empty()) {
            char base[64];
            std::snprintf(base, sizeof base, "upgrade-%03u-file-%zu-%s", a.record.number,
                          a.record.files.size() + 1, asciiLower(kindName(a.record.kind)).c_str());
            for (char& c : base)
                c = c == ' ' ? '-' : c;
            a.saveFd = createSaveFile(m_behaviour.saveDir, base, a.file.savedPath);
            if (a.saveFd < 0) {
                m_observer.fault("cannot save " + a.file.savedPath + ": " + errnoText(errno));
                a.file.savedPath.clear();
            }
        }
    }
    if (r.event.chunkNumber != a.nextChunk)
        fail(fileLabel() + ": chunk number " + std::to_string(r.event.chunkNumber) + " where " +
             std::to_string(a.nextChunk) + " was due");
    if (a.shortChunkSeen)
        fail(fileLabel() + ": a chunk shorter than 1024 bytes came before the file's last");
    a.shortChunkSeen = r.event.payload.size() < kMaxDataPayload;
    a.nextChunk = r.event.chunkNumber + 1;
    a.file.size += r.event.payload.size();
    a.file.crc32 = libdeflate_crc32(a.file.crc32, r.event.payload.data(), r.event.payload.size());
    bool package = a.record.kind == KIND_WEB || a.record.kind == KIND_LOGO;
    if (package && a.file.size > kLargestPackage && a.file.problem.empty()) {
        a.file.problem = "package larger than " + std::to_string(kLargestPackage) + " bytes";
        fail(fileLabel() + ": " + a.file.problem);
        std::vector<uint8_t>().swap(a.file.data);
    }
    if ((m_behaviour.keepData || package) && a.file.problem.empty())
        a.file.data.insert(a.file.data.end(), r.event.payload.begin(), r.event.payload.end());
    if (a.saveFd >= 0 && !writeAll(a.saveFd, r.event.payload)) {
        m_observer.fault("cannot save " + a.file.savedPath + ": " + errnoText(errno));
        ::close(a.saveFd);
        a.saveFd = -1;
    }
    uint64_t before = a.bytes;
    a.bytes += r.event.payload.size();
    if (m_behaviour.stall.count() > 0 && !a.stalled && m_behaviour.stallAfterBytes > before &&
        m_behaviour.stallAfterBytes <= a.bytes) {
        a.stalled = true;
        m_stallUntil = now + m_behaviour.stall;
    }
}

void UpgradeConnection::onEnd(const CheckedRequest& r, Clock::time_point now) {
    ensureUpgrade("end packet without a start packet");
    Active& a = *m_active;
    std::string fileLabel = "file " + std::to_string(a.record.files.size() + 1);
    if (!r.fault.empty()) {
        m_observer.fault(r.fault);
        fail(fileLabel + ": " + r.fault);
    } else if (a.record.kind != 0 && r.event.kind != a.record.kind) {
        fail(fileLabel + ": end packet names " + kindName(r.event.kind) + ", the start packet " +
             kindName(a.record.kind));
    }
    if (!a.fileOpen) {
        // An empty file is sent as an end packet alone.
        a.file = ReceivedFile{};
        a.file.crc32 = libdeflate_crc32(0, nullptr, 0);
        a.fileOpen = true;
    }
    closeFile();
    m_settleAt = now + m_behaviour.settle;
}

void UpgradeConnection::closeFile() {
    Active& a = *m_active;
    if (!a.fileOpen)
        return;
    a.fileOpen = false;
    if (a.saveFd >= 0) {
        if (::close(a.saveFd) != 0)
            m_observer.fault("cannot save " + a.file.savedPath + ": " + errnoText(errno));
        a.saveFd = -1;
    }
    ReceivedFile& f = a.file;
    if ((a.record.kind == KIND_WEB || a.record.kind == KIND_LOGO) && f.problem.empty()) {
        PackageReport report =
            checkUpgradePackage(f.data, a.record.kind == KIND_WEB ? "web.cramfs" : "logo.cramfs");
        f.entries = report.entries;
        f.imageNames = report.image.names;
        if (!report.ok) {
            f.problem = report.problem;
            fail("file " + std::to_string(a.record.files.size() + 1) + ": " + report.problem);
        }
        if (!m_behaviour.keepData)
            std::vector<uint8_t>().swap(f.data);
    }
    a.record.files.push_back(std::move(f));
    f = ReceivedFile{};
}

void UpgradeConnection::abandonFile(Active& a) {
    if (!a.fileOpen)
        return;
    a.fileOpen = false;
    if (a.saveFd >= 0)
        ::close(a.saveFd);
    a.saveFd = -1;
    a.record.files.push_back(std::move(a.file));
    a.file = ReceivedFile{};
}

void UpgradeConnection::conclude(Clock::time_point now) {
    if (!m_active)
        return;
    m_settleAt.reset();
    m_stallUntil.reset();
    if (m_active->fileOpen) {
        fail("file " + std::to_string(m_active->record.files.size() + 1) + " has no end packet");
        abandonFile(*m_active);
    } else {
        m_active->record.complete = !m_active->record.files.empty();
    }
    std::unique_ptr<Active> a = std::move(m_active);
    UpgradeRecord& record = a->record;
    Verdict v = record.problem.empty() ? m_behaviour.verdict : Verdict::Error;
    record.verdict = verdictWord(v);
    switch (v) {
    case Verdict::Progress:
        m_progressPercent = 0;
        m_progressAt = now;
        break;
    case Verdict::Right:
        send(BuildUpgradeReply("right", 0, 0));
        if (m_behaviour.rebootAfterSuccess)
            m_close = true;
        break;
    case Verdict::Error:
        send(BuildUpgradeReply("error", 0, 0));
        break;
    case Verdict::Silence:
        break;
    case Verdict::Drop:
        m_close = true;
        break;
    }
    if ((v == Verdict::Right || v == Verdict::Error) && !m_behaviour.wordAfterVerdict.empty())
        send(BuildUpgradeReply(m_behaviour.wordAfterVerdict, 0, 0));
    m_observer.upgradeEnded(std::move(record));
    if (v == Verdict::Progress)
        onTime(now);
}

void UpgradeConnection::stopProgress() {
    m_progressAt.reset();
}

void UpgradeConnection::onTime(Clock::time_point now) {
    if (m_finished)
        return;
    if (m_linkBusy && *m_linkFreeAt <= now)
        m_linkBusy = false;
    if (m_stallUntil && *m_stallUntil <= now) {
        m_stallUntil.reset();
        process(now);
    }
    if (m_settleAt && *m_settleAt <= now)
        conclude(now);
    while (m_progressAt && *m_progressAt <= now) {
        unsigned until = std::min<unsigned>(m_behaviour.progressUntil, 255);
        unsigned percent = std::min(m_progressPercent, until);
        send(BuildUpgradeReply("", H::kReportProgress, uint8_t(percent)));
        if (percent >= until) {
            m_progressAt.reset();
            if (percent >= H::kPercentComplete && m_behaviour.rebootAfterSuccess)
                m_close = true;
        } else {
            m_progressPercent = percent + std::max(m_behaviour.progressStep, 1u);
            *m_progressAt += std::chrono::duration_cast<Clock::duration>(progressInterval());
        }
    }
}

void UpgradeConnection::finish(const std::string& why) {
    if (m_finished)
        return;
    m_finished = true;
    m_progressAt.reset();
    if (!m_active)
        return;
    std::unique_ptr<Active> a = std::move(m_active);
    bool fileOpen = a->fileOpen;
    abandonFile(*a);
    a->record.complete = !fileOpen && !a->record.files.empty();
    if (a->record.problem.empty() && !a->record.complete)
        a->record.problem = why + " before the upgrade was complete";
    a->record.verdict = "none";
    m_observer.upgradeEnded(std::move(a->record));
}

std::optional<Clock::time_point> UpgradeConnection::nextDeadline() const {
    std::optional<Clock::time_point> next;
    std::optional<Clock::time_point> link = m_linkBusy ? m_linkFreeAt : std::nullopt;
    for (const auto& t : {m_settleAt, m_stallUntil, m_progressAt, link})
        if (t && (!next || *t < *next))
            next = t;
    return next;
}

bool UpgradeConnection::wantsRead(Clock::time_point now) const {
    return !stalled(now) && (!m_linkFreeAt || *m_linkFreeAt <= now);
}

bool UpgradeConnection::stalled(Clock::time_point now) const {
    return m_stallUntil && *m_stallUntil > now;
}

void UpgradeConnection::occupyLink(size_t count, Clock::time_point now) {
    if (m_behaviour.linkRate == 0 || count == 0)
        return;
    // A read that comes a little after the link went free (the owner's wake-up is never exact)
    // does not lose the link's time: up to this much of it is made up.
    constexpr auto kMadeUp = std::chrono::milliseconds(20);
    Clock::time_point from = now - kMadeUp;
    if (m_linkFreeAt && *m_linkFreeAt > from)
        from = *m_linkFreeAt;
    auto busy = std::chrono::nanoseconds(static_cast<int64_t>(
        static_cast<long double>(count) * 1e9L / static_cast<long double>(m_behaviour.linkRate)));
    m_linkFreeAt = from + std::chrono::duration_cast<Clock::duration>(busy);
    m_linkBusy = *m_linkFreeAt > now;
}

std::chrono::nanoseconds UpgradeConnection::progressInterval() const {
    if (m_behaviour.burn.count() <= 0)
        return m_behaviour.progressInterval;
    // Reports 0, step, 2 step, ... until: the last one lands at the end of the burn.
    unsigned until = std::min<unsigned>(m_behaviour.progressUntil, 255);
    unsigned step = std::max(m_behaviour.progressStep, 1u);
    unsigned steps = std::max((until + step - 1) / step, 1u);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(m_behaviour.burn) / steps;
}

void UpgradeConnection::send(std::span<const uint8_t> bytes) {
    m_output.insert(m_output.end(), bytes.begin(), bytes.end());
}

} // namespace sim
