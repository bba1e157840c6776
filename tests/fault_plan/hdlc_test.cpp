// The HDLC line under the fault plan: a frame the far end sends and the line loses is
// simply not delivered; the frames around it are.
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_os.h>

#include <mutex>

#include "support/sim_fixture.h"

namespace bsp::test {

namespace {

using sim::BusFault;
using Bytes = std::vector<uint8_t>;

std::mutex g_mutex;
std::vector<Bytes> g_packets;

void record(void *packet, UINT32 size) {
    auto *bytes = static_cast<uint8_t *>(packet);
    std::lock_guard lock(g_mutex);
    g_packets.emplace_back(bytes, bytes + size);
}

std::vector<Bytes> packets() {
    std::lock_guard lock(g_mutex);
    return g_packets;
}

class HdlcFaultTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        {
            std::lock_guard lock(g_mutex);
            g_packets.clear();
        }
        ASSERT_EQ(DpdpInit(), 0);
        ASSERT_EQ(DpdpOpen(record), 0u);
        sim::clear_log();
        sim::fault_plan_seed(0xd9d9);
    }
    void TearDown() override {
        DpdpClose();
        SimTest::TearDown();
    }
};

TEST_F(HdlcFaultTest, DroppedFrameIsNotDelivered) {
    sim::fault_plan_at(BusFault::HdlcDrop, 2);
    EXPECT_TRUE(sim::hdlc_receive({0x31, 1}));
    EXPECT_TRUE(sim::hdlc_receive({0x32, 2}));  // the service finds nothing waiting
    EXPECT_TRUE(sim::hdlc_receive({0x33, 3}));
    EXPECT_EQ(packets(), (std::vector<Bytes>{{0x31, 1}, {0x33, 3}}));
    EXPECT_EQ(sim::hdlc_rx_pending(), 0u);
    EXPECT_EQ(sim::log_text(DBG_DPDP_INDEX),
              "[DPDP        0] DpdpRxHandler: received packet, size: 2, id dispatcher: 49\n"
              "[DPDP        0] DpdpRxHandler: received packet, size: 2, id dispatcher: 51\n");
}

TEST_F(HdlcFaultTest, SameSeedDropsTheSameFrames) {
    auto run = [] {
        sim::fault_plan_seed(0x0dd5);
        sim::fault_plan_chance(BusFault::HdlcDrop, 0.3);
        std::lock_guard lock(g_mutex);
        g_packets.clear();
    };
    run();
    for (uint8_t i = 1; i <= 50; ++i) {
        sim::hdlc_receive({i});
    }
    std::vector<Bytes> first = packets();
    EXPECT_LT(first.size(), 50u);
    EXPECT_GT(first.size(), 0u);
    run();
    for (uint8_t i = 1; i <= 50; ++i) {
        sim::hdlc_receive({i});
    }
    EXPECT_EQ(packets(), first);
}

}  // namespace

}  // namespace bsp::test
