// Fixture of the DPDP channel's tests: a fresh unit with the channel initialised and open,
// a receive callback and a dispatch function that record what they are given.
#ifndef BSP_TESTS_DPDP_DPDP_FIXTURE_H
#define BSP_TESTS_DPDP_DPDP_FIXTURE_H

#include <bsp_ctrl/dpdp_api.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

struct DpdpPacket {
    std::vector<uint8_t> bytes;
    bool dispatched;  // given to the dispatch function, not the receive callback
};

class DpdpTest : public SimTest {
  public:
    static void record_rx(void *packet, UINT32 size);
    static STATUS record_dispatch(UINT8 *packet, UINT32 size);
    static std::vector<DpdpPacket> packets();

    // Sets the header value and notes that this process has one from now on.
    static void set_header(UINT8 value);
    static bool header_ever_set();

    static UINT32 send(const std::vector<uint8_t> &bytes);
    static std::string dpdp_log();
    static std::string npu_log();

  protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace bsp::test

#endif
