// Closing and opening the channel again while the far end keeps sending (run under
// ThreadSanitizer: the receive handler reading the channel's settings while an open runs
// must not race); the channel receives after every open.
#include <atomic>
#include <thread>

#include "dpdp_fixture.h"

namespace {

using bsp::test::DpdpTest;
namespace sim = bsp::sim;

TEST_F(DpdpTest, ReopenWhileTheFarEndSends) {
    std::atomic<bool> stop{false};
    std::thread far_end([&stop] {
        for (uint8_t n = 1; !stop; ++n) {
            sim::hdlc_receive({0x21, n});
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(DpdpClose(), 0u);
        ASSERT_EQ(DpdpOpen(record_rx), 0u);
        const size_t before = packets().size();
        ASSERT_TRUE(bsp::test::wait_until([before] { return packets().size() > before; }));
    }
    stop = true;
    far_end.join();
}

}  // namespace
