// Message copies between the library's buffers and the dual-port RAM, two bytes per 16-bit
// word in network order.
#include "pcidev_dpram.h"

#include <algorithm>
#include <cstddef>

namespace bsp::pcidev {

static_assert(offsetof(pci_dpram_t, apu_status_h) == 16);
static_assert(offsetof(pci_dpram_t, rx_len_h) == 20);
static_assert(offsetof(pci_dpram_t, rx_buff) == 24);
static_assert(offsetof(pci_dpram_t, tx_len_h) == 1560);
static_assert(offsetof(pci_dpram_t, tx_buff) == 1564);
static_assert(offsetof(pci_dpram_t, fp_len_h) == 3100);
static_assert(offsetof(pci_dpram_t, fp_buff) == 3104);
static_assert(sizeof(pci_dpram_t) == 3360);

void pci_write_frame_to_dpram(pci_dpram_t *dpram, const UINT8 *buff, UINT32 len, UINT32 dev) {
    len = std::min(len, kMsgMax);
    for (UINT32 i = 0; i < len; i += 2) {
        // The low half of an odd message's last word carries no byte: never read past it.
        UINT16 low = i + 1 < len ? buff[i + 1] : 0;
        dpram->tx_buff[i / 2] = static_cast<UINT16>(buff[i] << 8 | low);
    }
    dpram->tx_len_l = static_cast<UINT16>(len);
    dpram->tx_len_h = static_cast<UINT16>((dev & 0xFF) << 8 | (len >> 16 & 0xFF));
}

UINT32 pci_read_frame_from_dpram(pci_dpram_t *dpram, UINT8 *buff, UINT32 *dev) {
    UINT16 len_h = dpram->rx_len_h;
    UINT32 len = dpram->rx_len_l | static_cast<UINT32>(len_h & 0xFF) << 16;
    *dev = len_h >> 8;
    dpram->rx_len_l = 0;
    dpram->rx_len_h = 0;
    len = std::min(len, kMsgMax);
    for (UINT32 i = 0; i < len; i += 2) {
        UINT16 w = dpram->rx_buff[i / 2];
        buff[i] = static_cast<UINT8>(w >> 8);
        if (i + 1 < len) {
            buff[i + 1] = static_cast<UINT8>(w);
        }
    }
    return len;
}

}  // namespace bsp::pcidev
