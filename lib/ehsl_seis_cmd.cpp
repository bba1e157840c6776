// The debug-shell command "seis": the SEIS links' status table, or the raw registers.
#include <cstring>

#include "common/text_out.h"
#include "ehsl_seis_link.h"

extern "C" {
const char seis_synopsis[] = "seis [-h] [-r] [-v]";
const char seis_descr[] = "SEIS Status.";
}

namespace bsp::seis {

namespace {

constexpr const char *kUsage =
    "Usage: %s [-h] [-r] [-v]\nDisplay SEIS status.\n\nOptions:\n  -h  Print this help text.\n"
    "  -r  Raw output (register values in hexadecimal notation).\n  -v  Verbose output.\n";

struct Options {
    bool usage = false;
    bool raw = false;
    bool verbose = false;
};

// Each argument is one option; "-h" or anything unknown ends the scan with the usage text.
Options parse(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        const char *a = argv[i];
        if (a != nullptr && std::strcmp(a, "-r") == 0) {
            o.raw = true;
        } else if (a != nullptr && std::strcmp(a, "-v") == 0) {
            o.verbose = true;
        } else {
            o.usage = true;
            break;
        }
    }
    return o;
}

UINT16 read16(UINT32 address) {
    UINT16 v = 0;
    vanta_read(address, &v);
    return v;
}

void print_raw(TextOut &out) {
    UINT16 links = read16(kNoOfLinks);
    UINT16 cfg = read16(kTxpllCfg);
    UINT16 int_val_new = read16(kTxpllIntValNew);
    UINT16 stat = read16(kTxpllStat);
    UINT16 int_val = read16(kTxpllIntVal);
    out.printf(
        "SEIS Wrapper @ 0x%08x\n   NO_OF_LINKS:         %4d\n   TXPLL_CFG:           0x%02x\n"
        "   TXPLL_STAT:          0x%02x\n   TXPLL_INT_VAL_NEW: 0x%04x\n"
        "   TXPLL_INT_VAL:     0x%04x\n",
        seis_base_address, links, cfg, stat, int_val_new, int_val);
    out.puts(
        "HW  LINK_CFG    LINK_ING_QL_TDM  LINK_ING_QL_IGFP  LINK_ING_QL_SEIS  LINK_EGR_QL_TDM\n");
    for (int n = 0; n < seis_num_links; ++n) {
        UINT16 link_cfg = read16(link_reg(n, LINK_CFG));
        UINT16 ing_tdm = read16(link_reg(n, LINK_ING_QL_TDM));
        UINT16 egr_tdm = read16(link_reg(n, LINK_EGR_QL_TDM));
        UINT16 ing_igfp = read16(link_reg(n, LINK_ING_QL_IGFP));
        UINT16 ing_seis = read16(link_reg(n, LINK_ING_QL_SEIS));
        out.printf("%2d  0x%08x  0x%08x       0x%08x        0x%08x        0x%08x\n",
                   seis_link[n].hw_port, link_cfg, ing_tdm, ing_igfp, ing_seis, egr_tdm);
    }
}

const char *enabled_text(int enabled) {
    return enabled > 0 ? "yes" : enabled == 0 ? "no " : " - ";
}

const char *role_text(const seis_link_mgmt_s &l) {
    int master = load(l.phy_master);
    int slave = load(l.phy_slave);
    if (master && slave) {
        return "-?-";
    }
    return master ? "Master" : slave ? "Slave" : "Bi-dir";
}

void print_status(TextOut &out) {
    out.puts("SEIS Status:\n");
    out.puts(
        "HW-  |        |Ingress              |Egress               |PHY    |\n"
        "port |Enabled |SSM                  |SSM                  |Mode   |\n"
        "-------------------------------------------------------------------\n");
    for (int n = 0; n < seis_num_links; ++n) {
        const seis_link_mgmt_s &l = seis_link[n];
        UINT16 received = read16(link_reg(n, LINK_ING_QL_SEIS));
        UINT16 egr_tdm = read16(link_reg(n, LINK_EGR_QL_TDM));
        UINT16 egr_igfp = read16(link_reg(n, LINK_EGR_QL_IGFP));
        UINT16 cfg = read16(link_reg(n, LINK_CFG));
        UINT16 dnu_source = (cfg & en_egr_igfp_sw_dnu) ? egr_igfp : egr_tdm;
        out.printf("%2d    %s      %-20s  dnu=%d %-15s  %s\n", l.hw_port,
                   enabled_text(load(l.enabled)), seis_ql_str(received & kSsmMask),
                   (dnu_source & kEgrDnu) ? 1 : 0, seis_ql_str(egr_tdm & kSsmMask), role_text(l));
    }
}

}  // namespace

}  // namespace bsp::seis

using namespace bsp::seis;

extern "C" {

BSP_API int seis_cmd(int argc, char **argv, int res_length, char *res) {
    bsp::TextOut out(res, res_length > 0 ? static_cast<size_t>(res_length) : 0);
    Options o = parse(argc, argv);
    if (o.usage) {
        const char *name = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "seis";
        out.printf(kUsage, name);
        return 0;
    }
    if (seis_num_links == 0) {
        out.puts("ERROR: No SEIS module in the FPGA.\n");
    } else if (o.raw) {
        print_raw(out);
    } else {
        print_status(out);
    }
    return 0;
}

}  // extern "C"
