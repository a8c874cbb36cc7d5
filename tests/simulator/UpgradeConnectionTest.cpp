#include "simulator/UpgradeConnection.h"

#include "simulator/RequestCheck.h"

#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/simulator/CramfsFixture.h"
#include "tests/simulator/ZipFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

using namespace std::chrono_literals;
using sim::Clock;

namespace {

struct Observer : sim::UpgradeObserver {
    struct Login {
        std::string user, password;
        bool accepted;
    };
    std::vector<Login> logins;
    std::vector<uint32_t> macs;
    std::vector<sim::UpgradeRecord> upgrades;
    std::vector<std::string> faults;
    unsigned count = 0;

    void loginAttempt(const std::string& u, const std::string& p, bool a) override {
        logins.push_back({u, p, a});
    }
    void macValue(uint32_t v) override { macs.push_back(v); }
    void upgradeEnded(sim::UpgradeRecord u) override { upgrades.push_back(std::move(u)); }
    void fault(const std::string& t) override { faults.push_back(t); }
    unsigned nextUpgradeNumber() override { return ++count; }
};

std::vector<uint8_t> bytes(std::span<const uint8_t> s) {
    return {s.begin(), s.end()};
}

// The stream of one whole upgrade as the tool sends it, built with the tool's own encoders.
std::vector<uint8_t> upgradeStream(UpgradeKind kind, const std::vector<std::vector<uint8_t>>& files,
                                   uint32_t announced) {
    std::vector<uint8_t> out = bytes(BuildStartPacket(kind, announced));
    for (const auto& f : files)
        for (const auto& p : BuildFilePackets(kind, f))
            out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> reply(std::initializer_list<std::pair<size_t, uint8_t>> set) {
    std::vector<uint8_t> r(32, 0);
    for (auto [at, value] : set)
        r[at] = value;
    return r;
}

class UpgradeConnectionTest : public ::testing::Test {
protected:
    UpgradeConnectionTest() {
        behaviour.settle = 100ms;
        behaviour.progressInterval = 50ms;
    }

    sim::UpgradeConnection& connection() {
        if (!conn)
            conn = std::make_unique<sim::UpgradeConnection>(behaviour, observer);
        return *conn;
    }
    void feed(std::span<const uint8_t> b) { connection().receive(b, now); }
    void login() {
        feed(BuildLoginRequest(behaviour.user, behaviour.password));
        takeOutput();
    }
    void advance(std::chrono::milliseconds d) {
        now += d;
        connection().onTime(now);
    }
    std::vector<uint8_t> takeOutput() {
        std::vector<uint8_t> out;
        out.swap(connection().output());
        return out;
    }
    // The output cut into 32-byte replies, decoded by the tool's decoder.
    std::vector<ReplyEvent> takeReplies() {
        std::vector<uint8_t> out = takeOutput();
        EXPECT_EQ(out.size() % 32, 0u);
        std::vector<ReplyEvent> events;
        for (size_t i = 0; i + 32 <= out.size(); i += 32)
            events.push_back(DecodeReply(out.data() + i, 32));
        return events;
    }

    sim::UpgradeBehaviour behaviour;
    Observer observer;
    std::unique_ptr<sim::UpgradeConnection> conn;
    Clock::time_point now = Clock::now();
};

} // namespace

TEST_F(UpgradeConnectionTest, LoginIsAcceptedForTheOneAccountOnly) {
    feed(BuildLoginRequest("admin", "admin"));
    EXPECT_EQ(takeOutput(), reply({{0, 0x10}}));
    feed(BuildLoginRequest("admin", "nimda"));
    EXPECT_EQ(takeOutput(), reply({{0, 0x10}, {8, 1}}));
    feed(BuildLoginRequest("guest", "admin"));
    EXPECT_EQ(takeOutput(), reply({{0, 0x10}, {8, 1}}));
    ASSERT_EQ(observer.logins.size(), 3u);
    EXPECT_TRUE(observer.logins[0].accepted);
    EXPECT_FALSE(observer.logins[1].accepted);
    EXPECT_EQ(observer.logins[2].user, "guest");
    EXPECT_TRUE(observer.faults.empty());
}

TEST_F(UpgradeConnectionTest, AccountLongerThanTheFieldsIsMatchedOnWhatFits) {
    behaviour.user = "administrator";
    behaviour.password = "a-very-long-password";
    feed(BuildLoginRequest(behaviour.user, behaviour.password));
    EXPECT_EQ(takeReplies().at(0).type, ReplyType::LoginAccepted);
}

TEST_F(UpgradeConnectionTest, MalformedLoginIsRefusedAndNoted) {
    Packet32 request = BuildLoginRequest("admin", "admin");
    request[29] = 7;
    feed(request);
    EXPECT_EQ(takeReplies().at(0).type, ReplyType::LoginRefused);
    ASSERT_EQ(observer.faults.size(), 1u);
    EXPECT_NE(observer.faults[0].find("header byte 29"), std::string::npos) << observer.faults[0];
}

TEST_F(UpgradeConnectionTest, BiosFileArrivesWholeAndProgressRunsToCompletion) {
    login();
    std::vector<uint8_t> file = fixture::patternBytes(2500, 7);
    std::vector<uint8_t> stream = upgradeStream(KIND_BIOS, {file}, 2500);
    // The stream arrives in uneven pieces, as TCP may cut it.
    for (size_t at = 0; at < stream.size(); at += 7)
        feed(std::span<const uint8_t>(stream).subspan(at, std::min<size_t>(7, stream.size() - at)));
    EXPECT_EQ(takeOutput(), reply({{0, 0xBA}, {9, 's'}, {10, 't'}, {11, 'a'}, {12, 'r'}, {13, 't'}}));
    EXPECT_TRUE(observer.upgrades.empty()) << "no verdict before the stream has gone quiet";

    advance(100ms);
    EXPECT_EQ(takeOutput(), reply({{0, 0xBA}, {24, 2}, {26, 0}}));
    std::vector<int> percents;
    for (int i = 0; i < 6; ++i) {
        advance(50ms);
        for (const auto& e : takeReplies()) {
            EXPECT_EQ(e.type, ReplyType::Progress);
            percents.push_back(e.percent);
            EXPECT_EQ(e.complete, e.percent == 100);
        }
    }
    EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 100}));
    EXPECT_FALSE(connection().nextDeadline().has_value());

    ASSERT_EQ(observer.upgrades.size(), 1u);
    const sim::UpgradeRecord& u = observer.upgrades[0];
    EXPECT_EQ(u.kind, KIND_BIOS);
    EXPECT_EQ(u.announcedLength, 2500u);
    EXPECT_TRUE(u.complete);
    EXPECT_EQ(u.verdict, "progress");
    EXPECT_EQ(u.problem, "");
    ASSERT_EQ(u.files.size(), 1u);
    EXPECT_EQ(u.files[0].data, file);
    EXPECT_EQ(u.files[0].crc32, uint32_t(crc32(0, file.data(), uInt(file.size()))));
    EXPECT_TRUE(observer.faults.empty());
    EXPECT_EQ(sim::summaryLine(u).rfind("upgrade 1: BIOS, 1 file, 2500 bytes", 0), 0u) << sim::summaryLine(u);
}

TEST_F(UpgradeConnectionTest, HowTheStreamIsCutDoesNotChangeWhatArrives) {
    behaviour.verdict = sim::Verdict::Right;
    // Two files, the second ending in a short chunk, so that packets of both sizes are cut.
    std::vector<uint8_t> first = fixture::patternBytes(5 * 1024, 3);
    std::vector<uint8_t> second = fixture::patternBytes(3 * 1024 + 100, 4);
    std::vector<uint8_t> stream = bytes(BuildLoginRequest(behaviour.user, behaviour.password));
    std::vector<uint8_t> upgrade = upgradeStream(KIND_BIOS, {first, second}, 5 * 1024);
    stream.insert(stream.end(), upgrade.begin(), upgrade.end());
    // Pieces that end inside a header, on a packet's edge, and across several packets.
    for (size_t piece : {size_t(1), size_t(5), size_t(31), size_t(32), size_t(33), size_t(1055), size_t(1056),
                         size_t(1057), size_t(2500), size_t(4096), stream.size()}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        observer = Observer{};
        conn.reset();
        for (size_t at = 0; at < stream.size(); at += piece)
            feed(std::span<const uint8_t>(stream).subspan(at, std::min(piece, stream.size() - at)));
        advance(100ms);
        ASSERT_EQ(observer.upgrades.size(), 1u);
        const sim::UpgradeRecord& u = observer.upgrades[0];
        EXPECT_EQ(u.problem, "");
        EXPECT_EQ(u.verdict, "right");
        ASSERT_EQ(u.files.size(), 2u);
        EXPECT_EQ(u.files[0].data, first);
        EXPECT_EQ(u.files[1].data, second);
        EXPECT_EQ(u.files[1].crc32, uint32_t(crc32(0, second.data(), uInt(second.size()))));
        EXPECT_TRUE(observer.faults.empty());
    }
}

TEST_F(UpgradeConnectionTest, OversizedClaimIsRefusedWhenItsHeaderIsCut) {
    login();
    feed(BuildStartPacket(KIND_BIOS, 10));
    std::vector<uint8_t> packet = BuildDataPacket(0, fixture::patternBytes(10, 1));
    fixture::putLe32(packet, 4, 5000);
    // The claim is seen as soon as the header is whole, without waiting for 5000 bytes.
    feed(std::span<const uint8_t>(packet).first(6));
    EXPECT_FALSE(connection().closeWanted());
    feed(std::span<const uint8_t>(packet).subspan(6, 26));
    EXPECT_TRUE(connection().closeWanted());
    ASSERT_EQ(observer.upgrades.size(), 1u);
    EXPECT_NE(observer.upgrades[0].problem.find("5000 bytes"), std::string::npos);
}

TEST(RequestCheck, EveryHeaderByteOutsideTheFieldsMustBeZero) {
    struct Case {
        std::string what;
        std::vector<uint8_t> message;
        // The bytes each kind of message may use, written out from the header layout: command,
        // payload length and the message's own fields.
        std::set<size_t> fields;
    };
    std::vector<uint8_t> data = BuildDataPacket(7, fixture::patternBytes(16, 2));
    const std::vector<Case> cases = {
        {"data packet", data, {0, 4, 5, 6, 7, 10, 11, 12, 13}},
        {"start packet",
         bytes(BuildStartPacket(KIND_BIOS, 3000)),
         {0, 9, 10, 11, 12, 13, 14, 15, 28, 29, 30, 31}},
        {"end packet", bytes(BuildEndPacket(KIND_BIOS)), {0, 9, 10, 11, 12, 13, 14, 15}},
        {"MAC value packet", bytes(BuildMacPacket(0x01020304)), {0, 10, 11, 12, 13}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(sim::checkRequest(c.message).fault, "") << c.what;
        for (size_t i = 1; i < 32; ++i) {
            // A payload length changes what the message is; those bytes have faults of their own.
            if (c.fields.count(i) || (i >= 4 && i < 8))
                continue;
            std::vector<uint8_t> m = c.message;
            m[i] = 0x5A;
            // A later stray byte too: the first one is named.
            for (size_t j = 31; j > i; --j)
                if (!c.fields.count(j)) {
                    m[j] = 0x11;
                    break;
                }
            EXPECT_EQ(sim::checkRequest(m).fault,
                      c.what + ": header byte " + std::to_string(i) + " is 0x5A where 0 belongs");
        }
    }
}

TEST_F(UpgradeConnectionTest, FilesOfOneUpgradeAreKeptApartAndEmptyFilesCount) {
    behaviour.verdict = sim::Verdict::Right;
    login();
    std::vector<uint8_t> a = fixture::patternBytes(1024, 1), b = fixture::patternBytes(3000, 2);
    feed(upgradeStream(KIND_BOOT, {a, {}, b}, 3000));
    advance(100ms);
    ASSERT_EQ(observer.upgrades.size(), 1u);
    const auto& files = observer.upgrades[0].files;
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].data, a);
    EXPECT_EQ(files[1].size, 0u);
    EXPECT_EQ(files[2].data, b);
    auto replies = takeReplies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].type, ReplyType::UpgradeRight);
}

TEST_F(UpgradeConnectionTest, VerdictsFollowTheChosenBehaviour) {
    struct Case {
        sim::Verdict verdict;
        bool reboot;
        std::vector<ReplyType> replies;
        bool closes;
    };
    const std::vector<Case> cases = {
        {sim::Verdict::Right, false, {ReplyType::UpgradeStart, ReplyType::UpgradeRight}, false},
        {sim::Verdict::Right, true, {ReplyType::UpgradeStart, ReplyType::UpgradeRight}, true},
        {sim::Verdict::Error, false, {ReplyType::UpgradeStart, ReplyType::UpgradeError}, false},
        {sim::Verdict::Silence, false, {ReplyType::UpgradeStart}, false},
        {sim::Verdict::Drop, false, {ReplyType::UpgradeStart}, true},
    };
    for (const auto& c : cases) {
        behaviour.verdict = c.verdict;
        behaviour.rebootAfterSuccess = c.reboot;
        conn.reset();
        login();
        feed(upgradeStream(KIND_FONT, {fixture::patternBytes(100, 3)}, 100));
        advance(100ms);
        std::vector<ReplyType> types;
        for (const auto& e : takeReplies())
            types.push_back(e.type);
        EXPECT_EQ(types, c.replies) << int(c.verdict);
        EXPECT_EQ(connection().closeWanted(), c.closes) << int(c.verdict);
    }
}

TEST_F(UpgradeConnectionTest, RebootAfterTheLastProgressReport) {
    behaviour.rebootAfterSuccess = true;
    behaviour.progressStep = 50;
    login();
    feed(upgradeStream(KIND_BIOS, {fixture::patternBytes(10, 3)}, 10));
    advance(100ms);
    advance(50ms);
    EXPECT_FALSE(connection().closeWanted());
    advance(50ms);
    EXPECT_EQ(takeReplies().back().percent, 100);
    EXPECT_TRUE(connection().closeWanted());
}

TEST_F(UpgradeConnectionTest, BrokenStreamsAreAnsweredError) {
    struct Case {
        const char* what;
        bool loggedIn;
        std::function<std::vector<uint8_t>()> stream;
        const char* expected;
    };
    auto file = fixture::patternBytes(3000, 4);
    auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out;
        for (const auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const std::vector<Case> cases = {
        {"chunk skipped", true,
         [&] {
             auto p = BuildFilePackets(KIND_BIOS, file);
             return cat({bytes(BuildStartPacket(KIND_BIOS, 3000)), p[0], p[2], p[3]});
         },
         "chunk number 2 where 1 was due"},
        {"numbering not restarted for a second file", true,
         [&] {
             auto p = BuildFilePackets(KIND_BIOS, std::vector<uint8_t>(file.begin(), file.begin() + 1024));
             return cat({bytes(BuildStartPacket(KIND_BIOS, 3000)), p[0], p[1],
                         BuildDataPacket(1, file.data(), 10), bytes(BuildEndPacket(KIND_BIOS))});
         },
         "file 2: chunk number 1 where 0 was due"},
        {"short chunk before the last", true,
         [&] {
             return cat({bytes(BuildStartPacket(KIND_BIOS, 3000)), BuildDataPacket(0, file.data(), 500),
                         BuildDataPacket(1, file.data(), 1024), bytes(BuildEndPacket(KIND_BIOS))});
         },
         "shorter than 1024 bytes came before the file's last"},
        {"data without a start packet", true,
         [&] {
             auto p = BuildFilePackets(KIND_BIOS, file);
             return cat({p[0], p[1], p[2], p[3]});
         },
         "data packet without a start packet"},
        {"stray byte in a data packet", true,
         [&] {
             auto p = BuildFilePackets(KIND_BIOS, file);
             p[1][8] = 0x01;
             return cat({bytes(BuildStartPacket(KIND_BIOS, 3000)), p[0], p[1], p[2], p[3]});
         },
         "data packet: header byte 8 is 0x01"},
        {"stray byte in the start packet", true,
         [&] {
             auto start = BuildStartPacket(KIND_BIOS, 3000);
             start[20] = 0x20;
             auto p = BuildFilePackets(KIND_BIOS, file);
             return cat({bytes(start), p[0], p[1], p[2], p[3]});
         },
         "start packet: header byte 20 is 0x20"},
        {"end packet of another kind", true,
         [&] {
             auto p = BuildFilePackets(KIND_BIOS, file);
             return cat({bytes(BuildStartPacket(KIND_BIOS, 3000)), p[0], p[1], p[2],
                         bytes(BuildEndPacket(KIND_EXE))});
         },
         "end packet names program, the start packet BIOS"},
        {"kind out of range", true,
         [&] {
             return cat(
                 {bytes(BuildStartPacket(UpgradeKind(9), 3000)), bytes(BuildEndPacket(UpgradeKind(9)))});
         },
         "upgrade kind 9"},
        {"no login", false, [&] { return upgradeStream(KIND_BIOS, {file}, 3000); },
         "without an accepted login"},
        {"file without end packet", true,
         [&] {
             auto p = BuildFilePackets(KIND_BIOS, file);
             return cat(
                 {bytes(BuildStartPacket(KIND_BIOS, 3000)), p[0], bytes(BuildStartPacket(KIND_BIOS, 1))});
         },
         "file 1 has no end packet"},
    };
    for (const auto& c : cases) {
        conn.reset();
        observer.upgrades.clear();
        if (c.loggedIn)
            login();
        feed(c.stream());
        advance(100ms);
        ASSERT_FALSE(observer.upgrades.empty()) << c.what;
        const auto& u = observer.upgrades[0];
        EXPECT_EQ(u.verdict, "error") << c.what;
        EXPECT_NE(u.problem.find(c.expected), std::string::npos) << c.what << ": " << u.problem;
        bool errorSent = false;
        for (const auto& e : takeReplies())
            errorSent = errorSent || e.type == ReplyType::UpgradeError;
        EXPECT_TRUE(errorSent) << c.what;
    }
}

TEST_F(UpgradeConnectionTest, PackagesAreCheckedAndABrokenOneGetsError) {
    behaviour.verdict = sim::Verdict::Right;
    TempDir dir;
    auto image = fixture::makeCramfs({{"index.htm", fixture::textBytes(9000)}});
    auto good = fixture::makeZip((dir / "tmp_web.bin").string(),
                                 {{"Install.lua", fixture::textBytes(1938)}, {"web.cramfs", image}});
    image[200] ^= 0x01;
    auto bad = fixture::makeZip((dir / "bad.bin").string(),
                                {{"Install.lua", fixture::textBytes(1938)}, {"web.cramfs", image}});

    login();
    feed(upgradeStream(KIND_WEB, {good}, 9000));
    advance(100ms);
    feed(upgradeStream(KIND_WEB, {bad}, 9000));
    advance(100ms);
    feed(upgradeStream(KIND_LOGO, {good}, 9000));
    advance(100ms);

    ASSERT_EQ(observer.upgrades.size(), 3u);
    EXPECT_EQ(observer.upgrades[0].verdict, "right") << observer.upgrades[0].problem;
    EXPECT_EQ(observer.upgrades[0].files[0].data, good);
    EXPECT_EQ(observer.upgrades[0].files[0].entries, (std::vector<std::string>{"Install.lua", "web.cramfs"}));
    EXPECT_EQ(observer.upgrades[0].files[0].imageNames, std::vector<std::string>{"index.htm"});
    EXPECT_EQ(observer.upgrades[1].verdict, "error");
    EXPECT_NE(observer.upgrades[1].problem.find("web.cramfs: CRC-32"), std::string::npos)
        << observer.upgrades[1].problem;
    EXPECT_EQ(observer.upgrades[2].verdict, "error");
    EXPECT_NE(observer.upgrades[2].problem.find("no logo.cramfs"), std::string::npos)
        << observer.upgrades[2].problem;
}

TEST_F(UpgradeConnectionTest, OversizedPayloadEndsTheConnectionWithError) {
    login();
    feed(BuildStartPacket(KIND_BIOS, 10));
    std::vector<uint8_t> packet = BuildDataPacket(0, fixture::patternBytes(10, 1));
    fixture::putLe32(packet, 4, 5000);
    feed(packet);
    EXPECT_TRUE(connection().closeWanted());
    auto replies = takeReplies();
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.back().type, ReplyType::UpgradeError);
    ASSERT_EQ(observer.upgrades.size(), 1u);
    EXPECT_NE(observer.upgrades[0].problem.find("5000 bytes"), std::string::npos);
}

TEST_F(UpgradeConnectionTest, SlowReaderHoldsTheRestUntilThePauseEnds) {
    behaviour.stall = 1000ms;
    behaviour.stallAfterBytes = 2048;
    behaviour.verdict = sim::Verdict::Right;
    login();
    std::vector<uint8_t> file = fixture::patternBytes(5000, 9);
    std::vector<uint8_t> stream = upgradeStream(KIND_BIOS, {file}, 5000);
    // The pause begins inside the second piece; what is handed in meanwhile waits its turn.
    feed(std::span<const uint8_t>(stream).first(2000));
    feed(std::span<const uint8_t>(stream).subspan(2000, 1500));
    EXPECT_FALSE(connection().wantsRead(now));
    feed(std::span<const uint8_t>(stream).subspan(3500));
    EXPECT_FALSE(connection().wantsRead(now));
    EXPECT_EQ(connection().nextDeadline(), now + 1000ms);
    advance(999ms);
    EXPECT_FALSE(connection().wantsRead(now));
    advance(1ms);
    EXPECT_TRUE(connection().wantsRead(now));
    advance(100ms);
    ASSERT_EQ(observer.upgrades.size(), 1u);
    EXPECT_EQ(observer.upgrades[0].files.at(0).data, file);
    EXPECT_EQ(observer.upgrades[0].verdict, "right");
}

TEST_F(UpgradeConnectionTest, LinkRateKeepsTheReaderBackForTheTimeTheBytesTake) {
    behaviour.linkRate = 1000; // bytes per second: a millisecond a byte
    behaviour.verdict = sim::Verdict::Right;
    login();
    std::vector<uint8_t> file = fixture::patternBytes(3000, 5);
    std::vector<uint8_t> stream = upgradeStream(KIND_BIOS, {file}, 3000);
    auto piece = [&](size_t at, size_t n) { return std::span<const uint8_t>(stream).subspan(at, n); };

    advance(1000ms); // the login's own bytes are long through
    // An idle link makes up a little of its idle time, at most 20 ms.
    feed(piece(0, 500));
    EXPECT_FALSE(connection().wantsRead(now));
    EXPECT_EQ(connection().nextDeadline(), now + 480ms);
    advance(479ms);
    EXPECT_FALSE(connection().wantsRead(now));
    advance(1ms);
    EXPECT_TRUE(connection().wantsRead(now));
    EXPECT_FALSE(connection().nextDeadline().has_value()) << "a free link is no deadline: no busy loop";

    // A read that comes late by less than the made-up margin keeps the link's pace...
    advance(10ms);
    feed(piece(500, 500));
    EXPECT_EQ(connection().nextDeadline(), now + 490ms);
    // ...one that comes long after gets only the margin back.
    advance(2000ms);
    const auto rest = std::chrono::milliseconds(stream.size() - 1000);
    feed(piece(1000, stream.size() - 1000));
    advance(rest - 21ms);
    EXPECT_FALSE(connection().wantsRead(now));
    advance(1ms);
    EXPECT_TRUE(connection().wantsRead(now));
    advance(100ms);
    ASSERT_EQ(observer.upgrades.size(), 1u);
    EXPECT_EQ(observer.upgrades[0].files.at(0).data, file) << "the rate delays bytes, never drops them";
    EXPECT_EQ(observer.upgrades[0].verdict, "right");
}

TEST_F(UpgradeConnectionTest, BurnTimeSpreadsTheProgressReports) {
    struct Case {
        unsigned step, until;
        std::chrono::milliseconds burn, gap;
        std::vector<int> percents;
    };
    for (const Case& c :
         {Case{25, 100, 1000ms, 250ms, {0, 25, 50, 75, 100}},
          Case{30, 100, 800ms, 200ms, {0, 30, 60, 90, 100}}, Case{100, 100, 700ms, 700ms, {0, 100}}}) {
        behaviour.progressStep = c.step;
        behaviour.progressUntil = c.until;
        behaviour.burn = c.burn;
        conn.reset();
        login();
        feed(upgradeStream(KIND_BIOS, {fixture::patternBytes(100, 1)}, 100));
        takeOutput();
        advance(100ms); // the settle time: the verdict and its first report
        std::vector<int> percents;
        auto collect = [&] {
            for (const auto& e : takeReplies())
                percents.push_back(e.percent);
        };
        collect();
        for (size_t i = 1; i < c.percents.size(); ++i) {
            advance(c.gap - 1ms);
            collect();
            EXPECT_EQ(percents.size(), i) << "step " << c.step << ": report " << i << " early";
            advance(1ms);
            collect();
        }
        EXPECT_EQ(percents, c.percents) << "step " << c.step;
        EXPECT_FALSE(connection().nextDeadline().has_value());
    }
}

TEST_F(UpgradeConnectionTest, ConnectionLostMidFileLeavesAnUpgradeWithoutVerdict) {
    login();
    auto p = BuildFilePackets(KIND_BIOS, fixture::patternBytes(3000, 5));
    feed(BuildStartPacket(KIND_BIOS, 3000));
    feed(p[0]);
    connection().finish("the tool closed the connection");
    ASSERT_EQ(observer.upgrades.size(), 1u);
    EXPECT_EQ(observer.upgrades[0].verdict, "none");
    EXPECT_FALSE(observer.upgrades[0].complete);
    EXPECT_EQ(observer.upgrades[0].files.at(0).size, 1024u);
    EXPECT_EQ(observer.upgrades[0].problem, "the tool closed the connection before the upgrade was complete");
}

TEST_F(UpgradeConnectionTest, MacValueIsTakenWithoutLoginAndCheckedForStrayBytes) {
    feed(BuildMacPacket(0x12345678));
    Packet32 bad = BuildMacPacket(1);
    bad[20] = 1;
    feed(bad);
    EXPECT_TRUE(takeOutput().empty());
    EXPECT_EQ(observer.macs, std::vector<uint32_t>{0x12345678});
    ASSERT_EQ(observer.faults.size(), 1u);
    EXPECT_NE(observer.faults[0].find("MAC value packet: header byte 20"), std::string::npos);
}

TEST_F(UpgradeConnectionTest, ReceivedFilesAreSavedWithoutReplacingOldOnes) {
    TempDir dir;
    behaviour.saveDir = dir.path();
    behaviour.keepData = false;
    WriteFile((dir / "upgrade-001-file-1-bios.bin").string(), {1, 2, 3});
    login();
    std::vector<uint8_t> file = fixture::patternBytes(4000, 6);
    feed(upgradeStream(KIND_BIOS, {file}, 4000));
    advance(100ms);
    ASSERT_EQ(observer.upgrades.size(), 1u);
    const auto& f = observer.upgrades[0].files.at(0);
    EXPECT_TRUE(f.data.empty());
    EXPECT_EQ(f.savedPath, (dir / "upgrade-001-file-1-bios-2.bin").string());
    EXPECT_EQ(ReadBytes(f.savedPath), file);
    EXPECT_EQ(ReadBytes((dir / "upgrade-001-file-1-bios.bin").string()), (std::vector<uint8_t>{1, 2, 3}));
}
