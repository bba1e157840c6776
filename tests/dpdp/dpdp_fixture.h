// Fixture of the DPDP channel's tests: a fresh unit with the channel initialised and open,
// a receive callback and a dispatch function that record what they are given.
#ifndef BSP_TESTS_DPDP_DPDP_FIXTURE_H
#define BSP_TESTS_DPDP_DPDP_FIXTURE_H

#include <bsp_ctrl/dpdp_api.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/sim_fixture.h"

namespace bsp::test {

struct DpdpPacket {
    Bytes bytes;
    bool dispatched;  // given to the dispatch function, not the receive callback
};

class DpdpTest : public SimTest {
  public:
    static void record_rx(void *packet, UINT32 size) {
        auto *bytes = static_cast<uint8_t *>(packet);
        std::lock_guard lock(state().mutex);
        state().packets.push_back({Bytes(bytes, bytes + size), false});
    }
    static STATUS record_dispatch(UINT8 *packet, UINT32 size) {
        std::lock_guard lock(state().mutex);
        state().packets.push_back({Bytes(packet, packet + size), true});
        return 0;
    }
    static std::vector<DpdpPacket> packets() {
        std::lock_guard lock(state().mutex);
        return state().packets;
    }

    // Sets the header value and notes that this process has one from now on.
    static void set_header(UINT8 value) {
        state().header_set = true;
        ASSERT_EQ(DpdpSetHeaderValue(value), 0u);
    }
    static bool header_ever_set() { return state().header_set; }

    static UINT32 send(Bytes bytes) {
        return DpdpSend(bytes.data(), static_cast<UINT32>(bytes.size()));
    }
    static std::string dpdp_log() { return sim::log_text(DBG_DPDP_INDEX); }
    static std::string npu_log() { return sim::log_text(sim::kNpuLogModule); }

  protected:
    void SetUp() override {
        SimTest::SetUp();
        {
            std::lock_guard lock(state().mutex);
            state().packets.clear();
        }
        ASSERT_EQ(DpdpInit(), 0);
        ASSERT_EQ(DpdpOpen(record_rx), 0u);
        sim::clear_log();
    }
    void TearDown() override {
        DpdpSetCallback(nullptr);
        DpdpClose();
        SimTest::TearDown();
    }

  private:
    struct State {
        std::mutex mutex;
        std::vector<DpdpPacket> packets;
        bool header_set = false;
    };
    static State &state() {
        static State s;
        return s;
    }
};

}  // namespace bsp::test

#endif
