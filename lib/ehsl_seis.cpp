// SEIS link handling: detection of the block and its links at start, and the enable,
// disable, link up/down and PHY role handlers of a link's port.
#include <bsp_ctrl/ehsl_pmap.h>

#include "ehsl_seis_link.h"

namespace bsp::seis {

seis_link_mgmt_s seis_link[kMaxLinks];
int seis_num_links;
UINT32 seis_base_address = 0x30000;

namespace {

constexpr const char *kQlNames[] = {
    "QL-STU",          "QL-PRS",   "QL-PRC",    "QL-FAILED-NO-HOLDOFF",
    "QL-SSU-A/QL-TNC", "QL-NSUPP", "QL-FAILED", "QL-ST2",
    "QL-SSU-B",        "QL-INV",   "QL-ST3",    "QL-SEC",
    "QL-SMC",          "QL-ST3E",  "QL-PROV",   "QL-DNU/QL-DUS"};
static_assert(sizeof kQlNames / sizeof kQlNames[0] == 16);

// Bits of LINK_CFG cleared on reset type 1.
constexpr UINT16 kColdClearedCfg =
    en_igfp_icf | en_ing_igfp_sw_ssm | en_egr_igfp_sw_dnu | rxclk_25m;

UINT16 read16(UINT32 address) {
    UINT16 v = 0;
    vanta_read(address, &v);
    return v;
}

// The hardware port of the last port entry that names the link, or -1 when none does (or
// the entry names no hardware port of the board's range).
int hw_port_of_link(int link) {
    int hw = -1;
    for (int e = 0; e < KVU_HAL_PORT_ENTRIES; ++e) {
        if (kvu_hal_get()->seis_link_of_entry[e] == link) {
            hw = kvu_hal_get()->hw_port_of_entry[e];
        }
    }
    return hw >= 0 && hw < KVU_HAL_HW_PORTS ? hw : -1;
}

// Hardware SyncE support: the SyncE flag (MII address) of the port's entry is 0.
bool synce_hw_support(int hw_port) {
    int e = kvu_hal_get()->entry_of_hw_port[hw_port];
    return e >= 0 && e < KVU_HAL_PORT_ENTRIES && kvu_hal_get()->mii_addr_of_entry[e] == 0;
}

void set_up_link(int link, int hw_port) {
    seis_link_mgmt_s &l = seis_link[link];
    l.hw_port = hw_port;
    store(l.enabled, 0);
    store(l.ing_ql.reg, with_ssm(load(l.ing_ql.reg), QL_FAILED));
    store(l.egr_ql.reg, with_ssm(load(l.egr_ql.reg), QL_DNU));
    store(l.phy_master, 0);
    store(l.phy_slave, 0);
}

void find_link_ports(int count) {
    for (int i = 0; i < count; ++i) {
        int hw_port = hw_port_of_link(i);
        if (hw_port < 0) {
            continue;  // the board names no port for this link: it stays unset
        }
        if (synce_hw_support(hw_port)) {
            set_up_link(i, hw_port);
            ehsl_pmap_synce_cap_init(hw_port, PMAP_SYNCE_HW_SUPPORT);
            log_printf(DBG_SEIS_INDEX, 2,
                       "SEIS: seis_detect_modules - hw_port = %d is  PMAP_SYNCE_HW_SUPPORT \n",
                       hw_port);
        } else {
            log_printf(DBG_SEIS_INDEX, 2,
                       "SEIS: seis_detect_modules - hw_port = %d is  NOT PMAP_SYNCE_HW_SUPPORT \n",
                       hw_port);
        }
    }
}

// Reset type 1 initialises the link's registers; a warm restart takes the state over.
void start_link(int n, bool cold) {
    seis_link_mgmt_s &l = seis_link[n];
    UINT16 cfg = read16(link_reg(n, LINK_CFG));
    UINT16 egr_igfp = read16(link_reg(n, LINK_EGR_QL_IGFP));
    UINT16 ing_tdm = read16(link_reg(n, LINK_ING_QL_TDM));
    if (cold) {
        vanta_write(link_reg(n, LINK_CFG), static_cast<UINT16>(cfg & ~kColdClearedCfg));
        vanta_write(link_reg(n, LINK_ING_QL_TDM), with_ssm(ing_tdm, load(l.ing_ql.reg)));
        vanta_write(link_reg(n, LINK_EGR_QL_IGFP), static_cast<UINT16>(egr_igfp | kEgrDnu));
        return;
    }
    if (cfg & en_ing_igfp_sw_ssm) {
        store(l.phy_master, 1);
    }
    if (cfg & en_egr_igfp_sw_dnu) {
        store(l.phy_slave, 1);
        store(l.egr_ql.reg, with_ssm(load(l.egr_ql.reg), QL_DNU));
    }
    if (cfg & en_igfp_icf) {
        store(l.enabled, 1);
    }
    store(l.ing_ql.reg, with_ssm(load(l.ing_ql.reg), ing_tdm));
}

int seis_detect_modules() {
    UINT32 reset_type = 0;
    eh_get_reset_type(&reset_type);
    UINT16 count = 0;
    vanta_read_reg(kNoOfLinks, &count, kNoOfLinksMask);
    if (count > kMaxLinks) {
        log_printf(DBG_SEIS_INDEX, 1,
                   "SEIS: ERROR: too many links supported by module supporting %d links "
                   "(MAX=%d)\n",
                   count, kMaxLinks);
        return -1;
    }
    log_printf(DBG_SEIS_INDEX, 2, "SEIS: Found module supporting %d links\n", count);
    seis_num_links = count;
    find_link_ports(count);
    ehsl_pmap_synce_cap_init_finished();
    vanta_write(kTxpllCfg, 1);
    for (int n = 0; n < count; ++n) {
        start_link(n, reset_type == BSP_RESET_TYPE_COLD);
    }
    return 0;
}

int seis_hw_port_to_link(int hw_port) {
    if (hw_port < 0 || hw_port > kvu_hal_get()->max_hw_port) {
        return -1;
    }
    for (int n = 0; n < seis_num_links && n < kMaxLinks; ++n) {
        if (seis_link[n].hw_port == hw_port) {
            return n;
        }
    }
    return -1;
}

// The link of a handler's port, or -1 after logging the handler's error.
int link_of(int hw_port, const char *func, const char *event) {
    int link = seis_hw_port_to_link(hw_port);
    if (link < 0) {
        log_printf(DBG_SEIS_INDEX, 1, "SEIS: %s() ERROR: %s: illegal hardware port %d\n", func,
                   event, hw_port);
    }
    return link;
}

const char *role_name(int master, int slave) {
    if (master && slave) {
        return "<illegal>";
    }
    return master ? "Master" : slave ? "Slave" : "Bidirectional";
}

int seis_handle_link_up(int port, int linkstatus) {
    log_printf(DBG_SEIS_INDEX, 2, "SEIS: %s() SSM_LINK_UP(%d)\n", "seis_handle_link_up", port);
    int link = link_of(port, "seis_handle_link_up", "SSM_LINK_UP");
    if (link < 0) {
        return -1;
    }
    if (linkstatus == 1) {
        vanta_write(link_reg(link, LINK_UP), 1);
        if (link == 0) {
            vanta_write(kLink0State, 1);
        }
    } else if (link == 0) {
        vanta_write(kLink0State, 0);
    }
    return 0;
}

}  // namespace

const char *seis_ql_str(uint32_t ssm_value) {
    return ssm_value < 16 ? kQlNames[ssm_value] : "<illegal value>";
}

}  // namespace bsp::seis

using namespace bsp::seis;

extern "C" {

// The link table starts empty on every start, as it does in a fresh process.
BSP_API int init_seis(void) {
    for (seis_link_mgmt_s &l : seis_link) {
        l = seis_link_mgmt_s{};
    }
    seis_num_links = 0;
    seis_detect_modules();
    eth_ctrl_emac_sfp_SeisLinkUpEvent_install(seis_handle_link_up);
    log_printf(DBG_SEIS_INDEX, 2, "SEIS: Main process successfully started.\n");
    return 0;
}

BSP_API int seis_handle_enable_port(int hw_port) {
    log_printf(DBG_SEIS_INDEX, 2, "SEIS: %s() SSM_ENABLE_PORT(%d)\n", "seis_handle_enable_port",
               hw_port);
    int link = link_of(hw_port, "seis_handle_enable_port", "SSM_ENABLE_PORT");
    if (link < 0) {
        return -1;
    }
    seis_link_mgmt_s &l = seis_link[link];
    if (load(l.enabled)) {
        return 0;
    }
    store(l.enabled, 1);
    store(l.ing_ql.reg, with_ssm(load(l.ing_ql.reg), QL_FAILED));
    store(l.egr_ql.reg, with_ssm(load(l.egr_ql.reg), QL_DNU));
    UINT16 cfg = en_igfp_icf;
    UINT16 ing_tdm = QL_FAILED;
    if (load(l.phy_master)) {
        cfg |= en_ing_igfp_sw_ssm;
        ing_tdm = QL_DNU;
    } else if (load(l.phy_slave)) {
        cfg |= en_egr_igfp_sw_dnu;
    }
    vanta_write(link_reg(link, LINK_CFG), cfg);
    vanta_write(link_reg(link, LINK_ING_QL_TDM), ing_tdm);
    return 0;
}

BSP_API int seis_handle_disable_port(int hw_port) {
    log_printf(DBG_SEIS_INDEX, 2, "SEIS: %s() SSM_DISABLE_PORT(%d)\n", "seis_handle_disable_port",
               hw_port);
    int link = link_of(hw_port, "seis_handle_disable_port", "SSM_DISABLE_PORT");
    if (link < 0) {
        return -1;
    }
    seis_link_mgmt_s &l = seis_link[link];
    if (!load(l.enabled)) {
        return 0;
    }
    store(l.enabled, 0);
    store(l.ing_ql.reg, with_ssm(load(l.ing_ql.reg), QL_FAILED));
    store(l.egr_ql.reg, with_ssm(load(l.egr_ql.reg), QL_DNU));
    vanta_write(link_reg(link, LINK_CFG), 0);
    vanta_write(link_reg(link, LINK_ING_QL_TDM), QL_FAILED);
    return 0;
}

// LINK_CFG keeps its other bits as read; the enabled bit is not touched.
BSP_API int seis_handle_set_eth_mode(int hw_port, int master, int slave) {
    log_printf(DBG_SEIS_INDEX, 2, "SEIS: %s() SSM_SET_ETH_MODE(%d, %s)\n",
               "seis_handle_set_eth_mode", hw_port, role_name(master, slave));
    int link = link_of(hw_port, "seis_handle_set_eth_mode", "SSM_SET_ETH_MODE");
    if (link < 0) {
        return -1;
    }
    seis_link_mgmt_s &l = seis_link[link];
    UINT16 cfg = read16(link_reg(link, LINK_CFG));
    UINT16 ing_tdm = load(l.ing_ql.reg) & kSsmMask;
    if (master && slave) {
        log_printf(DBG_SEIS_INDEX, 1,
                   "SEIS: %s() ERROR: SSM_SET_ETH_MODE: illegal PHY mode (both Master and Slave "
                   "set) for hardware port %d\n",
                   "seis_handle_set_eth_mode", hw_port);
        return -1;
    }
    store(l.phy_master, master ? 1 : 0);
    store(l.phy_slave, slave ? 1 : 0);
    cfg &= static_cast<UINT16>(~(en_ing_igfp_sw_ssm | en_egr_igfp_sw_dnu));
    if (master) {
        cfg |= en_ing_igfp_sw_ssm;
        ing_tdm = QL_DNU;
    } else if (slave) {
        cfg |= en_egr_igfp_sw_dnu;
    } else {
        store(l.egr_ql.reg, static_cast<UINT16>(load(l.egr_ql.reg) & ~kEgrDnu));
    }
    vanta_write(link_reg(link, LINK_CFG), cfg);
    vanta_write(link_reg(link, LINK_ING_QL_TDM), ing_tdm);
    return 0;
}

}  // extern "C"
