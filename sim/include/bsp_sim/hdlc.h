// The HDLC channel service: channel 0 with a far end that records the frames the library
// puts, sends frames to it through the installed receive handler, and can call the
// reconfiguration operations registered for the channel. Other channels do not exist.
#ifndef BSP_SIM_HDLC_H
#define BSP_SIM_HDLC_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bsp::sim {

// The library's calls on channel 0, in order, for asserting sequences:
// "set_reconf", "open 3 1000000 0 15 128", "close", "install_rx", "put 5".
std::vector<std::string> hdlc_calls();
void hdlc_clear_calls();

bool hdlc_is_open();

// Frames the far end received, oldest first: those the library put while the channel was
// open, less those the fault plan lost on the line (hdlc-out-drop).
std::vector<std::vector<uint8_t>> hdlc_sent_frames();

// The far end sends: `hdlc_queue_rx` only queues a frame (hdlc_data_ready reports it);
// `hdlc_deliver` calls the receive handler as the service does when frames have arrived
// (false when none is installed); `hdlc_receive` does both.
void hdlc_queue_rx(const std::vector<uint8_t> &frame);
bool hdlc_deliver();
bool hdlc_receive(const std::vector<uint8_t> &frame);
size_t hdlc_rx_pending();

// The service drives a reconfiguration: calls the registered operation and returns its
// result, or -1 when none is registered.
int hdlc_call_enable();
int hdlc_call_disable();

// The next `count` calls of an operation fail (-1); a failed get drops its frame.
enum class HdlcOp { Open, Close, Put, Get };
void hdlc_fail(HdlcOp op, unsigned count = 1);

}  // namespace bsp::sim

#endif
