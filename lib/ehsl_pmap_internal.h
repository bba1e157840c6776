// The port map entry, shared between the port map and its diagnostic printout.
#ifndef BSP_LIB_EHSL_PMAP_INTERNAL_H
#define BSP_LIB_EHSL_PMAP_INTERNAL_H

namespace bsp::pmap {

struct lan_eps_port_map {
    int hwPortNum;        // equal to the entry's index in the map
    int epsPortNum;       // switch port mapped to the hardware port; -1 when unmapped
    int wanLinkNum;       // CP number from the board description
    int linkStateReport;  // link-state event reporting: 1 on, 0 off
    int eventSuppress;
    unsigned char mac[6];
    int llSpeed;
};

// A copy of the entry of hardware port 0..3 (all zero before ehsl_pmap_init).
lan_eps_port_map pmap_entry(int hw_port);

}  // namespace bsp::pmap

#endif
