// The HDLC line under the fault plan: a frame lost on the line, in either direction, is
// simply not delivered; the frames around it are. The sender cannot tell: DpdpSend of a
// frame the line loses still reports it sent.
#include <bsp_ctrl/platform/bsp_os.h>

#include <algorithm>

#include "dpdp_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;
using Bytes = std::vector<uint8_t>;

class HdlcFaultTest : public DpdpTest {
  protected:
    void SetUp() override {
        DpdpTest::SetUp();
        sim::fault_plan_seed(0xd9d9);
    }

    // The bytes of every packet given to the receive callback.
    static std::vector<Bytes> received() {
        std::vector<Bytes> out;
        for (const DpdpPacket &p : packets()) {
            out.push_back(p.bytes);
        }
        return out;
    }
};

TEST_F(HdlcFaultTest, DroppedFrameIsNotDelivered) {
    sim::fault_plan_at(BusFault::HdlcDrop, 2);
    EXPECT_TRUE(sim::hdlc_receive({0x31, 1}));
    EXPECT_TRUE(sim::hdlc_receive({0x32, 2}));  // the service finds nothing waiting
    EXPECT_TRUE(sim::hdlc_receive({0x33, 3}));
    EXPECT_EQ(received(), (std::vector<Bytes>{{0x31, 1}, {0x33, 3}}));
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
    EXPECT_EQ(dpdp_log(),
              "[DPDP        0] DpdpRxHandler: received packet, size: 2, id dispatcher: 49\n"
              "[DPDP        0] DpdpRxHandler: received packet, size: 2, id dispatcher: 51\n");
}

TEST_F(HdlcFaultTest, SameSeedDropsTheSameFrames) {
    auto run = [] {
        sim::fault_plan_seed(0x0dd5);
        sim::fault_plan_chance(BusFault::HdlcDrop, 0.3);
        const size_t before = received().size();
        for (uint8_t i = 1; i <= 50; ++i) {
            sim::hdlc_receive({i});
        }
        std::vector<Bytes> all = received();
        return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    };
    std::vector<Bytes> first = run();
    EXPECT_LT(first.size(), 50u);
    EXPECT_GT(first.size(), 0u);
    EXPECT_EQ(run(), first);
}

TEST_F(HdlcFaultTest, DroppedOutgoingFrameNeverReachesTheFarEnd) {
    sim::fault_plan_at(BusFault::HdlcOutDrop, 2);
    EXPECT_EQ(send({0x31, 1}), 0u);
    EXPECT_EQ(send({0x32, 2}), 0u);  // accepted, then lost
    EXPECT_EQ(send({0x33, 3}), 0u);
    EXPECT_EQ(sim::hdlc_sent_frames(), (std::vector<Bytes>{{0x31, 1}, {0x33, 3}}));
    const std::string sent = "[DPDP        0] DpdpSend 2 VS 2 bytes\n";
    EXPECT_EQ(dpdp_log(), sent + sent + sent);
    ASSERT_EQ(sim::fault_plan_log().size(), 1u);
    EXPECT_EQ(to_string(sim::fault_plan_log()[0]), "hdlc-out-drop #2 at 0");
}

TEST_F(HdlcFaultTest, SameSeedDropsTheSameOutgoingFrames) {
    auto run = [] {
        sim::fault_plan_seed(0x5e9d);
        sim::fault_plan_chance(BusFault::HdlcOutDrop, 0.3);
        size_t before = sim::hdlc_sent_frames().size();
        for (uint8_t i = 1; i <= 50; ++i) {
            EXPECT_EQ(send({i}), 0u);
        }
        std::vector<Bytes> all = sim::hdlc_sent_frames();
        return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    };
    std::vector<Bytes> first = run();
    std::vector<Bytes> expected;  // frame n is event n: the far end got all but the dropped
    std::vector<sim::FaultPlanEvent> dropped = sim::fault_plan_log();
    for (uint8_t i = 1; i <= 50; ++i) {
        bool lost = std::any_of(dropped.begin(), dropped.end(),
                                [i](const sim::FaultPlanEvent &e) { return e.event == i; });
        if (!lost) {
            expected.push_back({i});
        }
    }
    EXPECT_FALSE(dropped.empty());
    EXPECT_EQ(first, expected);
    EXPECT_EQ(run(), first);
}

}  // namespace

}  // namespace bsp::test
