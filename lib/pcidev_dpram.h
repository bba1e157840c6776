// The PCI dual-port-RAM window as the library sees it, and the copies of a message into the
// transmit area and out of the receive area.
#ifndef BSP_LIB_PCIDEV_DPRAM_H
#define BSP_LIB_PCIDEV_DPRAM_H

#include <bsp_ctrl/bsp_types.h>

#include <cstddef>

namespace bsp::pcidev {

constexpr UINT32 kMsgMax = 1536;  // bytes of one message and of each message buffer

// Window offsets of the registers (16 bits each) and of the message area.
constexpr size_t kDoorbellTxOffset = 0x0008;  // outgoing doorbell
constexpr size_t kDoorbellRxOffset = 0x000C;  // incoming doorbell
constexpr size_t kReadyOffset = 0x0020;
constexpr size_t kDpramOffset = 0x8000;

// Outgoing doorbell values and incoming doorbell bits.
constexpr UINT16 kBellTxPlaced = 1;   // out: a message is in the transmit area
constexpr UINT16 kBellRxTaken = 4;    // out: the message in the receive area was taken
constexpr UINT16 kBellTxDone = 1;     // in: the far side took the transmitted message
constexpr UINT16 kBellRxWaiting = 4;  // in: a message waits in the receive area

// The message area. Every field is a 16-bit RAM word; each buffer word carries two message
// bytes, the earlier one in the high half. A length is 24 bits: the low word holds bits
// 15..0, the high word bits 23..16 below the device number in bits 15..8.
struct pci_dpram_t {
    volatile UINT16 reserved[6];   // 0
    volatile UINT16 npu_status_h;  // 12: far side's status, not touched here
    volatile UINT16 npu_status_l;  // 14
    volatile UINT16 apu_status_h;  // 16: this side's software version, bits 31..16
    volatile UINT16 apu_status_l;  // 18: bits 15..0
    volatile UINT16 rx_len_h;      // 20
    volatile UINT16 rx_len_l;      // 22
    volatile UINT16 rx_buff[768];  // 24
    volatile UINT16 tx_len_h;      // 1560
    volatile UINT16 tx_len_l;      // 1562
    volatile UINT16 tx_buff[768];  // 1564
    volatile UINT16 fp_len_h;      // 3100: not used by this side
    volatile UINT16 fp_len_l;      // 3102
    volatile UINT16 fp_buff[128];  // 3104
};

// Copies `len` bytes (clamped to kMsgMax) of device `dev` into the transmit area; the
// length words are written last. The caller rings the doorbell.
void pci_write_frame_to_dpram(pci_dpram_t *dpram, const UINT8 *buff, UINT32 len, UINT32 dev);

// Takes the message from the receive area into `buff` (kMsgMax bytes): clears both length
// words and returns the length, clamped to kMsgMax, and the device number.
UINT32 pci_read_frame_from_dpram(pci_dpram_t *dpram, UINT8 *buff, UINT32 *dev);

}  // namespace bsp::pcidev

#endif
