// Fixture of the serial framer tests: a fresh unit, a receive callback that records every
// message, helpers that play the far end of the line, and a tear-down that closes the
// framer and checks that no task or descriptor is left behind.
#ifndef BSP_TESTS_FRAMER_FRAMER_FIXTURE_H
#define BSP_TESTS_FRAMER_FRAMER_FIXTURE_H

#include <bsp_ctrl/framer_api.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

using Bytes = std::vector<uint8_t>;

constexpr size_t kRxBufferSize = 588;
// Messages the receive tests send.
inline const Bytes kA = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
inline const Bytes kB = {0x01, 0x02, 0x03};

// The frame the library sends for `msg`, and the one a peer sends.
Bytes frame_of(const Bytes &msg);
// A frame with a length field of `length` around `msg`.
Bytes frame_with_length(uint32_t length, const Bytes &msg);
// `msg` zero-filled to the receive buffer's size.
Bytes padded(const Bytes &msg);
Bytes concat(std::initializer_list<Bytes> parts);

// The receive callback of the tests and what it has been given.
void record_message(UINT8 *msg);
std::vector<Bytes> received_messages();
bool wait_for_messages(size_t count);

class FramerTest : public SimTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // FramerCreate(0) and FramerOpen(record_message, rate), both expected to succeed.
    void open_framer(UINT32 rate = 9600);
    // The peer sends `bytes`; returns once the library has read them all and the byte
    // time-out runs. The last byte may still be in hand, so a time-out that follows may
    // fire before or after it is handled: partial sends end with a byte that a receiver
    // hunting for a start marker ignores, which makes both orders end alike.
    void peer_send(const Bytes &bytes);
    // Sends a marker frame and waits for it, so everything sent before has been handled;
    // returns the messages received before the marker.
    std::vector<Bytes> settle();
};

}  // namespace bsp::test

#endif
