// Support of the framer tests: the definitions behind framer_fixture.h.
#include <bsp_sim/sim.h>

#include <cstdlib>
#include <mutex>

#include "framer_fixture.h"

namespace bsp::test {

namespace {

struct Received {
    std::mutex mutex;
    std::vector<Bytes> messages;
};

Received &received() {
    static Received r;
    return r;
}

const Bytes kMarkerMessage = {'e', 'n', 'd', 0x7E};

}  // namespace

Bytes frame_with_length(uint32_t length, const Bytes &msg) {
    Bytes out = {0x5A,
                 0xA5,
                 0xC3,
                 0x3C,
                 static_cast<uint8_t>(length >> 24),
                 static_cast<uint8_t>(length >> 16),
                 static_cast<uint8_t>(length >> 8),
                 static_cast<uint8_t>(length)};
    out.insert(out.end(), msg.begin(), msg.end());
    out.insert(out.end(), {0xA5, 0x5A, 0x3C, 0xC3});
    return out;
}

Bytes frame_of(const Bytes &msg) {
    return frame_with_length(static_cast<uint32_t>(msg.size() + 12), msg);
}

Bytes padded(const Bytes &msg) {
    Bytes out = msg;
    out.resize(kRxBufferSize, 0);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

void record_message(UINT8 *msg) {
    std::lock_guard lock(received().mutex);
    received().messages.emplace_back(msg, msg + kRxBufferSize);
    std::free(msg);
}

std::vector<Bytes> received_messages() {
    std::lock_guard lock(received().mutex);
    return received().messages;
}

bool wait_for_messages(size_t count) {
    return wait_until([count] { return received_messages().size() >= count; });
}

void FramerTest::SetUp() {
    SimTest::SetUp();
    std::lock_guard lock(received().mutex);
    received().messages.clear();
}

void FramerTest::TearDown() {
    FramerClose();
    FramerDelete();
    EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
    EXPECT_EQ(sim::serial_open_descriptors(), 0u);
    SimTest::TearDown();
}

void FramerTest::open_framer(UINT32 rate) {
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_EQ(FramerOpen(record_message, rate), 0u);
}

void FramerTest::peer_send(const Bytes &bytes) {
    uint64_t target = sim::serial_bytes_read() + bytes.size();
    ASSERT_TRUE(sim::serial_peer_write(bytes));
    ASSERT_TRUE(wait_until(
        [target] { return sim::serial_bytes_read() >= target && sim::enabled_timers() == 1; }));
}

std::vector<Bytes> FramerTest::settle() {
    EXPECT_TRUE(sim::serial_peer_write(frame_of(kMarkerMessage)));
    Bytes marker = padded(kMarkerMessage);
    EXPECT_TRUE(wait_until([&marker] {
        std::vector<Bytes> all = received_messages();
        return !all.empty() && all.back() == marker;
    }));
    std::vector<Bytes> all = received_messages();
    if (!all.empty() && all.back() == marker) {
        all.pop_back();
    }
    return all;
}

}  // namespace bsp::test
