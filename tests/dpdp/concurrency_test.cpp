// Concurrency (run under ThreadSanitizer). Several senders at once while the far end sends
// and the header value changes: every packet reported sent went out whole, no other did, and
// reception is not disturbed.
#include <algorithm>
#include <atomic>
#include <thread>

#include "dpdp_fixture.h"

namespace {

using bsp::test::DpdpTest;
namespace sim = bsp::sim;

using bsp::test::Bytes;
constexpr int kSenders = 4;
constexpr int kPerSender = 300;
constexpr int kReceived = 200;

Bytes packet_of(int sender, int seq) {
    return {static_cast<uint8_t>(0x40 + sender), static_cast<uint8_t>(seq >> 8),
            static_cast<uint8_t>(seq), 0xAB};
}

TEST_F(DpdpTest, SeveralSendersWhileTheFarEndSends) {
    DpdpSetCallback(record_dispatch);
    std::vector<Bytes> accepted[kSenders];
    std::vector<std::thread> threads;
    for (int s = 0; s < kSenders; ++s) {
        threads.emplace_back([s, &accepted] {
            for (int seq = 0; seq < kPerSender; ++seq) {
                Bytes p = packet_of(s, seq);
                UINT32 result = DpdpSend(p.data(), static_cast<UINT32>(p.size()));
                EXPECT_LE(result, 1u);
                if (result == 0) {
                    accepted[s].push_back(p);
                }
            }
        });
    }
    threads.emplace_back([] {
        for (int n = 0; n < kReceived; ++n) {
            sim::hdlc_receive({static_cast<uint8_t>(0x20 + n % 3), static_cast<uint8_t>(n)});
        }
    });
    threads.emplace_back([] {
        for (int n = 0; n < 50; ++n) {
            set_header(static_cast<UINT8>(0x20 + n % 3));
        }
    });
    for (std::thread &t : threads) {
        t.join();
    }
    std::vector<Bytes> expected;
    for (const auto &a : accepted) {
        expected.insert(expected.end(), a.begin(), a.end());
    }
    std::vector<Bytes> sent = sim::hdlc_sent_frames();
    std::sort(expected.begin(), expected.end());
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, expected);
    EXPECT_FALSE(sent.empty());
    EXPECT_EQ(packets().size(), static_cast<size_t>(kReceived));
    EXPECT_TRUE(sim::held_semaphores().empty());
}

// Closing and opening again while the far end keeps sending: the receive handler reading
// the channel's settings while an open runs must not race; the channel receives after every
// open.
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
