// The synchronisation parts of the simulated unit: the radio-link driver's compensation-shift
// notification, the FPGA's 1588 block (RTC, RL TSU, SFP TSU) and SEIS block models, and the
// named FPGA register images with and without those blocks.
#ifndef BSP_SIM_SYNC_H
#define BSP_SIM_SYNC_H

#include <cstdint>
#include <string>
#include <vector>

namespace bsp::sim {

// ---- Radio-link driver ----

// Shift values the radio reports for an unsupported capacity or a disconnected radio link.
constexpr int kRadioShiftUnsupported = INT32_MIN;
constexpr int kRadioShiftDisconnected = INT32_MIN + 1;

// True once the library has installed its compensation-shift callback.
bool radio_shift_installed();

// The radio reports new ingress/egress compensation shifts: the installed callback is
// called in the calling thread (standing for the radio-link driver's context). False when
// no callback is installed.
bool radio_notify_shift(int si, int so, int ext_enhanced_comp);

// ---- Link events ----

// A link event of any hardware port, delivered to the MAC/SFP driver's installed callbacks
// from its event thread (the cage's own events come from the link model of eth.h; wait
// for delivery with wait_link_events_delivered()). The speed is 0 for a link down.
void raise_port_link_event(int hw_port, bool up, unsigned int speed);

// ---- FPGA images ----

// Images: 1588 blocks (Vanta revision character '2', RTC and both TSUs) and a SEIS block
// with one or two links, or without them (Vanta revision '1', no SEIS links).
extern const char *const kImage1588Seis;   // loaded on a fresh unit
extern const char *const kImage1588Seis2;  // two SEIS links
extern const char *const kImage1588;       // 1588 blocks, no SEIS block
extern const char *const kImageSeis;       // SEIS block, no 1588 support
extern const char *const kImagePlain;      // neither

// Version strings of the 1588 blocks as the images carry them (22 characters each).
struct SyncVersions {
    std::string vanta;
    std::string rtc;
    std::string rl_tsu;
    std::string sfp_tsu;
};
SyncVersions image_versions(const std::string &image);

// The image loaded last (by name), and the shell's keeping of the FPGA between runs: a
// warm start takes the saved registers over, a cold start reloads the last image.
std::string current_fpga_image();
void save_fpga_state();

// ---- 1588 block model ----

// Rising edges of the SFP TSU's link-event bit (bit 2 of 0x53084) since the reset.
unsigned sfp_tsu_link_pulses();

// ---- SEIS block model ----

// The quality level (SSM value 0..15) the far end of a SEIS link sends; the block reports
// it as the received QL while the link is enabled and up, and QL-FAILED (6) otherwise.
void seis_set_far_end_ql(int link, unsigned ssm);
// Link state as the block saw it from the link-up registers.
bool seis_block_link_up(int link);

}  // namespace bsp::sim

#endif
