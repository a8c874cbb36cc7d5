#include "simulator/DiscoveryResponder.h"

#include <gtest/gtest.h>

namespace {

struct Observer : sim::DiscoveryObserver {
    unsigned searches = 0;
    std::vector<std::string> faults;
    std::vector<std::tuple<unsigned, std::string, std::string, int, int>> logins;
    std::vector<std::tuple<unsigned, uint32_t, int>> modifies;

    void searchHeard() override { ++searches; }
    void discoveryLogin(unsigned d, const std::string& u, const std::string& p, uint8_t r,
                        uint8_t why) override {
        logins.emplace_back(d, u, p, r, why);
    }
    void modifyIp(unsigned d, uint32_t a, uint32_t, uint32_t, uint8_t r) override {
        modifies.emplace_back(d, a, r);
    }
    void fault(const std::string& t) override { faults.push_back(t); }
};

struct Found {
    DeviceNetRecord record;
    DeviceIdentity identity;
};

// What the tool's parser makes of a batch of search replies.
std::vector<Found> parseReplies(const std::vector<Datagram>& replies) {
    DiscoveryParser parser;
    std::vector<Found> found;
    for (const auto& r : replies) {
        DeviceNetRecord record;
        EXPECT_EQ(parser.parse(r.data(), r.size(), record), ParseOutcome::DeviceFound);
        found.push_back({record, parser.identity()});
    }
    return found;
}

class DiscoveryResponderTest : public ::testing::Test {
protected:
    sim::DiscoveryResponder& responder() {
        if (!m_responder)
            m_responder = std::make_unique<sim::DiscoveryResponder>(behaviour);
        return *m_responder;
    }
    std::vector<Datagram> send(const Datagram& d) { return responder().handle(d, observer); }
    std::vector<Found> search() { return parseReplies(send(buildSearch())); }
    // The tool's reading of a single login or modify-IP reply.
    DiscoveryParser answer(const std::vector<Datagram>& replies, ParseOutcome expected) {
        DiscoveryParser parser;
        EXPECT_EQ(replies.size(), 1u);
        DeviceNetRecord unused;
        for (const auto& r : replies)
            EXPECT_EQ(parser.parse(r.data(), r.size(), unused), expected);
        return parser;
    }

    sim::DiscoveryBehaviour behaviour;
    Observer observer;
    std::unique_ptr<sim::DiscoveryResponder> m_responder;
};

} // namespace

TEST_F(DiscoveryResponderTest, EveryRecorderAnswersOneSearchWithItsOwnSettings) {
    behaviour.count = 3;
    behaviour.address = 0x0A000105; // 10.0.1.5
    behaviour.mask = 0xFFFFFF00;
    behaviour.gateway = 0x0A000101;
    behaviour.port = 37777;
    std::vector<Datagram> replies = send(buildSearch());
    ASSERT_EQ(replies.size(), 3u);

    // The first reply, written out from the layout: header, record, identity.
    const Datagram& r = replies[0];
    ASSERT_EQ(r.size(), 32u + 88u + 32u);
    EXPECT_EQ(r[0], 0xB3);
    EXPECT_EQ(r[2], 32);
    EXPECT_EQ((std::vector<uint8_t>(r.begin() + 4, r.begin() + 8)), (std::vector<uint8_t>{88, 0, 0, 0}));
    EXPECT_EQ(r[16], 2);
    EXPECT_EQ((std::vector<uint8_t>(r.begin() + 32 + 24, r.begin() + 32 + 36)),
              (std::vector<uint8_t>{10, 0, 1, 5, 255, 255, 255, 0, 10, 0, 1, 1}));
    EXPECT_EQ(r[32 + 66], 0x91); // 37777 = 0x9391, little-endian
    EXPECT_EQ(r[32 + 67], 0x93);
    EXPECT_EQ(r[32 + 0], 0x31);
    EXPECT_EQ(r[32 + 87], uint8_t(87 * 7 + 0x31));
    EXPECT_EQ(std::string(r.begin() + 120, r.begin() + 149), "02:53:49:4D:00:01/SIMDVR-0001");

    std::vector<Found> found = parseReplies(replies);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(found[i].record.address(), 0x0A000105u + i);
        EXPECT_EQ(found[i].record.mask(), 0xFFFFFF00u);
        EXPECT_EQ(found[i].record.gateway(), 0x0A000101u);
        EXPECT_EQ(found[i].record.port(), 37777 + i);
        EXPECT_EQ(found[i].identity.macText(), "02:53:49:4D:00:0" + std::to_string(i + 1));
    }
    EXPECT_EQ(observer.searches, 1u);
    EXPECT_TRUE(observer.faults.empty());
}

TEST_F(DiscoveryResponderTest, SearchThatBreaksTheLayoutIsAnsweredButNoted) {
    Datagram d = buildSearch();
    d[1] = 0;
    EXPECT_EQ(send(d).size(), 1u);
    d = buildSearch();
    d[20] = 5;
    EXPECT_EQ(send(d).size(), 1u);
    ASSERT_EQ(observer.faults.size(), 2u);
    EXPECT_NE(observer.faults[0].find("flag"), std::string::npos);
    EXPECT_NE(observer.faults[1].find("header byte 20"), std::string::npos);
}

TEST_F(DiscoveryResponderTest, LoginIsAnsweredOnlyForOurIdentities) {
    behaviour.count = 2;
    std::vector<Found> found = search();
    const DeviceIdentity& second = found[1].identity;

    DiscoveryParser p = answer(send(buildLogin("admin", "admin", second)), ParseOutcome::LoginAnswered);
    EXPECT_EQ(p.loginResult(), 0);
    p = answer(send(buildLogin("admin", "wrong", second)), ParseOutcome::LoginAnswered);
    EXPECT_EQ(p.loginResult(), 1);
    EXPECT_EQ(p.loginReason(), 0);
    p = answer(send(buildLogin("nobody", "admin", second)), ParseOutcome::LoginAnswered);
    EXPECT_EQ(p.loginResult(), 1);
    EXPECT_EQ(p.loginReason(), 1);
    EXPECT_TRUE(send(buildLogin("admin", "admin", DeviceIdentity::fromText("00:11:22:33:44:55"))).empty());

    ASSERT_EQ(observer.logins.size(), 3u);
    EXPECT_EQ(std::get<0>(observer.logins[0]), 1u);
    EXPECT_TRUE(observer.faults.empty());
}

TEST_F(DiscoveryResponderTest, LongFormLoginAndFixedResults) {
    behaviour.user = "technician";
    behaviour.password = "long-password";
    DeviceIdentity id = search().at(0).identity;
    EXPECT_EQ(answer(send(buildLogin("technician", "long-password", id)), ParseOutcome::LoginAnswered)
                  .loginResult(),
              0);

    behaviour.loginResult = 3;
    behaviour.loginReason = 6;
    DiscoveryParser p = answer(send(buildLogin("anyone", "x", id)), ParseOutcome::LoginAnswered);
    EXPECT_EQ(p.loginResult(), 3);
    EXPECT_EQ(p.loginReason(), 6);
}

TEST_F(DiscoveryResponderTest, ModifyIpIsAdoptedOnlyWhenAnsweredZero) {
    behaviour.count = 2;
    Found first = search().at(0);
    DeviceNetRecord changed = first.record;
    changed.setAddress(0xC0A8010A);
    changed.setMask(0xFFFF0000);
    changed.setGateway(0xC0A80101);

    behaviour.modifyResult = 1;
    EXPECT_EQ(
        answer(send(buildModifyIp(changed, first.identity)), ParseOutcome::ModifyAnswered).modifyResult(), 1);
    EXPECT_EQ(search().at(0).record.address(), first.record.address());

    behaviour.modifyResult = 0;
    EXPECT_EQ(
        answer(send(buildModifyIp(changed, first.identity)), ParseOutcome::ModifyAnswered).modifyResult(), 0);
    std::vector<Found> after = search();
    EXPECT_EQ(after[0].record, changed) << "the recorder reports exactly what it adopted";
    EXPECT_EQ(after[1].record.address(), 0x7F000002u) << "the other recorder is untouched";
    EXPECT_EQ(responder().devices()[0].record.gateway(), 0xC0A80101u);
}

TEST_F(DiscoveryResponderTest, ModifyIpThatChangesOpaqueBytesIsDataIrregular) {
    Found first = search().at(0);
    DeviceNetRecord changed = first.record;
    changed.setAddress(0xC0A8010A);
    changed.bytes[70] ^= 0xFF;
    EXPECT_EQ(
        answer(send(buildModifyIp(changed, first.identity)), ParseOutcome::ModifyAnswered).modifyResult(), 3);
    EXPECT_EQ(search().at(0).record.address(), first.record.address());
    ASSERT_EQ(observer.faults.size(), 1u);
    EXPECT_NE(observer.faults[0].find("record byte 70"), std::string::npos);

    // A request cut short but ending with our identity gets the same answer.
    Datagram truncated = buildModifyIp(first.record, first.identity);
    truncated.erase(truncated.begin() + 40, truncated.begin() + 50);
    EXPECT_EQ(answer(send(truncated), ParseOutcome::ModifyAnswered).modifyResult(), 3);
}

TEST_F(DiscoveryResponderTest, ChosenRecordersLeaveTheFirstSearchUnanswered) {
    behaviour.count = 3;
    behaviour.ignoreFirstSearch = {2};
    std::vector<Found> firstRound = search();
    ASSERT_EQ(firstRound.size(), 2u);
    EXPECT_EQ(firstRound[0].identity.macText(), "02:53:49:4D:00:01");
    EXPECT_EQ(firstRound[1].identity.macText(), "02:53:49:4D:00:03");
    EXPECT_EQ(search().size(), 3u);
    EXPECT_EQ(search().size(), 3u);
}

TEST_F(DiscoveryResponderTest, RepliesAndStrangersAreNotAnswered) {
    EXPECT_TRUE(send(buildSearchReply(DeviceNetRecord{}, DeviceIdentity::fromText("x"))).empty());
    EXPECT_TRUE(send(buildLoginReply(0, 0)).empty());
    EXPECT_TRUE(send(Datagram{0xA3, 1}).empty());
    Datagram unknown(32, 0);
    unknown[0] = 0x55;
    EXPECT_TRUE(send(unknown).empty());
    EXPECT_EQ(observer.searches, 0u);
    EXPECT_EQ(observer.faults.size(), 2u);
}
