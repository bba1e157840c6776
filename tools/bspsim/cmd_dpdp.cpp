// Shell commands of the DPDP channel over the board's HDLC service: send from the library,
// send from the HDLC far end, and show what arrives on each side.
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_sim/hdlc.h>

#include <cstdio>

#include "json.h"
#include "link_print.h"
#include "shell.h"

namespace bsp::shell {

namespace {

bool g_dpdp_ready = false;

void print_dpdp_rx(void *packet, UINT32 size) {
    print_packet("dpdp rx (callback)", static_cast<uint8_t *>(packet), size);
}

STATUS print_dpdp_dispatch(UINT8 *packet, UINT32 size) {
    print_packet("dpdp rx (dispatch)", packet, size);
    return 0;
}

int cmd_dpdp_open(const Args &) {
    if (!g_dpdp_ready) {
        DpdpInit();
        g_dpdp_ready = true;
    }
    UINT32 result = DpdpOpen(print_dpdp_rx);
    print_result("DpdpOpen", result);
    return result == 0 ? 0 : fail("DpdpOpen = %u", static_cast<unsigned>(result));
}

int cmd_dpdp_header(const Args &args) {
    uint32_t header = 0;
    if (!parse_range(args[0], 0, 255, "BYTE", &header)) {
        return 1;
    }
    UINT32 result = DpdpSetHeaderValue(static_cast<UINT8>(header));
    DpdpSetCallback(print_dpdp_dispatch);
    char call[32];
    std::snprintf(call, sizeof call, "DpdpSetHeaderValue(0x%02x)", static_cast<unsigned>(header));
    print_result(call, result);
    return result == 0 ? 0 : fail("%s = %u", call, static_cast<unsigned>(result));
}

int cmd_dpdp_send(const Args &args) {
    std::vector<uint8_t> bytes;
    if (!parse_bytes(args[0], &bytes)) {
        return 1;
    }
    UINT32 result = DpdpSend(bytes.data(), static_cast<UINT32>(bytes.size()));
    print_result("DpdpSend", result);
    return 0;
}

int cmd_dpdp_inject(const Args &args) {
    std::vector<uint8_t> bytes;
    if (!parse_bytes(args[0], &bytes)) {
        return 1;
    }
    if (!sim::hdlc_receive(bytes)) {
        std::printf("no receive handler installed; the frame waits\n");
    }
    return 0;
}

int cmd_dpdp_far(const Args &) {
    std::vector<std::vector<uint8_t>> frames = sim::hdlc_sent_frames();
    if (json()) {
        std::vector<std::string> items;
        for (const auto &f : frames) {
            items.push_back(json_bytes(f.data(), f.size()));
        }
        JsonObject()
            .raw("frames", json_array(items))
            .flag("open", sim::hdlc_is_open())
            .num("rx_pending", static_cast<long long>(sim::hdlc_rx_pending()))
            .print();
        return 0;
    }
    for (size_t i = 0; i < frames.size(); ++i) {
        char what[48];
        std::snprintf(what, sizeof what, "far end got #%zu", i);
        print_packet(what, frames[i].data(), frames[i].size());
    }
    std::printf("HDLC channel 0 %s, %zu frame(s) waiting for the library\n",
                sim::hdlc_is_open() ? "open" : "closed", sim::hdlc_rx_pending());
    return 0;
}

int cmd_dpdp_reconf(const Args &args) {
    if (!parse_choice(args[0], {"enable", "disable"}, "dpdp-reconf")) {
        return 1;
    }
    int result = args[0] == "enable" ? sim::hdlc_call_enable() : sim::hdlc_call_disable();
    std::printf("%s operation = %d\n", args[0].c_str(), result);
    return 0;
}

int cmd_dpdp_close(const Args &) {
    print_result("DpdpClose", DpdpClose());
    return 0;
}

constexpr Command kCommands[] = {
    {"dpdp-open", 0, 0, "", "initialise (first time) and open the DPDP channel", cmd_dpdp_open},
    {"dpdp-header", 1, 1, "BYTE", "set the dispatcher byte of the dispatch function",
     cmd_dpdp_header},
    {"dpdp-send", 1, 1, "BYTES", "send a DPDP packet", cmd_dpdp_send},
    {"dpdp-inject", 1, 1, "BYTES", "the HDLC far end sends a packet", cmd_dpdp_inject},
    {"dpdp-far", 0, 0, "", "show the frames the HDLC far end got", cmd_dpdp_far},
    {"dpdp-reconf", 1, 1, "enable|disable", "the HDLC service calls a reconfiguration op",
     cmd_dpdp_reconf},
    {"dpdp-close", 0, 0, "", "close the DPDP channel", cmd_dpdp_close},
};

}  // namespace

std::span<const Command> dpdp_commands() {
    return kCommands;
}

}  // namespace bsp::shell
