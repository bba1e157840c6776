// The SEIS block's register map and layouts, and the link table shared by the link handling
// and the status command.
#ifndef BSP_LIB_EHSL_SEIS_LINK_H
#define BSP_LIB_EHSL_SEIS_LINK_H

#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <cstdint>

#include "common/relaxed.h"

namespace bsp::seis {

using bsp::load;
using bsp::store;

// 16-bit registers of the block.
constexpr UINT32 kNoOfLinks = 0x30100;  // bits 0..5: number of links
constexpr UINT16 kNoOfLinksMask = 0x3f;
constexpr UINT32 kTxpllCfg = 0x30120;
constexpr UINT32 kTxpllIntValNew = 0x30124;
constexpr UINT32 kTxpllStat = 0x30128;
constexpr UINT32 kTxpllIntVal = 0x3012c;
constexpr UINT32 kLink0State = 0x0033c;  // link 0: 1 up, 0 down

// Per link n at 0x32000 + n * 0x100.
constexpr UINT32 kLinkBase = 0x32000;
constexpr UINT32 kLinkStride = 0x100;
constexpr UINT32 LINK_CFG = 0x00;          // seis_link_cfg_u
constexpr UINT32 LINK_UP = 0x0c;           // written 1 when the link comes up
constexpr UINT32 LINK_ING_QL_TDM = 0x10;   // seis_link_ing_ql_u: the software ingress QL
constexpr UINT32 LINK_EGR_QL_TDM = 0x14;   // seis_link_egr_ql_u
constexpr UINT32 LINK_ING_QL_IGFP = 0x18;  // seis_link_ing_ql_u
constexpr UINT32 LINK_EGR_QL_IGFP = 0x1c;  // seis_link_egr_ql_u
constexpr UINT32 LINK_ING_QL_SEIS = 0x20;  // seis_link_ing_ql_u: the received QL

inline UINT32 link_reg(int link, UINT32 offset) {
    return kLinkBase + kLinkStride * static_cast<UINT32>(link) + offset;
}

// seis_link_cfg_u bits.
constexpr UINT16 en_igfp_icf = 1u << 0;  // link enabled
constexpr UINT16 ql_failed_dis = 1u << 1;
constexpr UINT16 en_ing_igfp_sw_ssm = 1u << 2;  // ingress uses the software QL (master)
constexpr UINT16 en_egr_igfp_sw_ssm = 1u << 3;
constexpr UINT16 en_egr_igfp_sw_squelch = 1u << 4;
constexpr UINT16 en_egr_igfp_sw_dnu = 1u << 5;  // egress sends DNU (slave)
constexpr UINT16 en_ing_igfp_sw_isd = 1u << 6;
constexpr UINT16 rxclk_25m = 1u << 7;

// seis_link_ing_ql_u / seis_link_egr_ql_u: bits 0..3 ssm; egress also bit 4 squelch, bit 5
// dnu, bit 6 isd.
constexpr UINT16 kSsmMask = 0xf;
constexpr UINT16 kEgrDnu = 1u << 5;

constexpr UINT16 QL_FAILED = 6;
constexpr UINT16 QL_DNU = 15;

struct seis_link_ing_ql_u {
    UINT16 reg;
};

struct seis_link_egr_ql_u {
    UINT16 reg;
};

inline UINT16 with_ssm(UINT16 reg, UINT16 ssm) {
    return static_cast<UINT16>((reg & ~kSsmMask) | (ssm & kSsmMask));
}

// One entry per link, fields in this order.
struct seis_link_mgmt_s {
    int hw_port;
    int enabled;
    int phy_master;
    int phy_slave;
    seis_link_egr_ql_u egr_ql;
    seis_link_ing_ql_u ing_ql;
};

constexpr int kMaxLinks = 2;

extern seis_link_mgmt_s seis_link[kMaxLinks];
extern int seis_num_links;
extern UINT32 seis_base_address;

// The QL name of an SSM value; "<illegal value>" above 15.
const char *seis_ql_str(uint32_t ssm_value);

}  // namespace bsp::seis

#endif
