// The PCI device: the node "/dev/pci" (interrupt mask and type requests), the dual-port-RAM
// window that OS_Init_Driver maps for it, and the far-side processor on the other port.
//
// The far side takes each message the library places in the transmit area (outgoing
// doorbell 1), clears the transmit length and acknowledges it with incoming doorbell bit 1
// and an interrupt, at once or when a held acknowledgement is released. It sends messages
// through the receive area with incoming doorbell bit 4, one at a time: the next waits until
// the library has taken the previous one.
//
// The window is plain memory, so the far side looks at the outgoing doorbell when the
// library unmasks the interrupt and when an interrupt entry returns; of several doorbell
// writes between two looks it sees the last. A received message counts as taken when the
// library rang doorbell 4 or left both receive length words at 0.
//
// Under the fault plan the far side may never see a doorbell the library rang
// (doorbell-out-lost: a transmitted message then stays in the area, untaken and
// unacknowledged) or see it twice (doorbell-out-repeat: the second look finds the transmit
// length cleared and does nothing).
#ifndef BSP_SIM_PCI_H
#define BSP_SIM_PCI_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bsp::sim {

constexpr const char *kPciDevicePath = "/dev/pci";
constexpr uint32_t kPciPhysicalBase = 0x18000000;
constexpr uint32_t kPciWindowLength = 0x200000;

// Request codes of the device node.
constexpr unsigned long kPciIoctlUnmask = 0xEE00;
constexpr unsigned long kPciIoctlMask = 0xEE01;
constexpr unsigned long kPciIoctlIrqType = 0xEE02;
constexpr unsigned long kPciIoctlEnable = 0xEE03;

// Window offsets (bytes) of the registers and of the message area's fields.
constexpr uint32_t kPciDoorbellOut = 0x0008;  // written by the library
constexpr uint32_t kPciDoorbellIn = 0x000C;   // written by the far side
constexpr uint32_t kPciReady = 0x0020;
constexpr uint32_t kPciArea = 0x8000;
constexpr uint32_t kPciNpuStatusH = kPciArea + 12;
constexpr uint32_t kPciApuStatusH = kPciArea + 16;
constexpr uint32_t kPciApuStatusL = kPciArea + 18;
constexpr uint32_t kPciRxLenH = kPciArea + 20;
constexpr uint32_t kPciRxLenL = kPciArea + 22;
constexpr uint32_t kPciRxBuff = kPciArea + 24;
constexpr uint32_t kPciTxLenH = kPciArea + 1560;
constexpr uint32_t kPciTxLenL = kPciArea + 1562;
constexpr uint32_t kPciTxBuff = kPciArea + 1564;
constexpr uint32_t kPciBuffBytes = 1536;

// Incoming doorbell bits.
constexpr uint16_t kPciBellTaken = 1;    // the far side took the transmitted message
constexpr uint16_t kPciBellMessage = 4;  // a message waits in the receive area

// A message the far side took from the transmit area, with the raw length words.
struct PciMessage {
    std::vector<uint8_t> bytes;
    uint32_t dev = 0;
    uint16_t len_h = 0;
    uint16_t len_l = 0;
};

// Messages taken from the library, oldest first (the most recent 4096 are kept), and the
// number taken since the reset.
std::vector<PciMessage> pci_taken();
size_t pci_taken_count();

// Holding acknowledgements back: messages are still taken, the doorbell and interrupt wait
// for pci_release_ack. Turning holding off releases what is held.
void pci_hold_acks(bool hold);
size_t pci_held_acks();
// Releases one held acknowledgement, ORing `also_bits` into the same interrupt's doorbell
// bits (kPciBellMessage after pci_place_rx_raw); false when none is held.
bool pci_release_ack(uint16_t also_bits = 0);

// Sends a message to the library (queued while the receive area is busy).
void pci_inject(const std::vector<uint8_t> &bytes, uint32_t dev);
// Messages injected and not yet taken by the library (including the one in the area).
size_t pci_rx_pending();
// Writes the receive area with the given length words and bytes, without an interrupt;
// false while the area holds a message the library has not taken.
bool pci_place_rx_raw(uint16_t len_h, uint16_t len_l, const std::vector<uint8_t> &bytes);
// Raises an interrupt with these incoming doorbell bits (kPciBellTaken with nothing to
// acknowledge is a spurious interrupt).
void pci_raise(uint16_t bits);

// Interrupt type the node reports (request 0xEE02). With type 0 the device masks its
// interrupt when it fires, and the handler unmasks it.
void pci_set_irq_type(uint32_t type);

// Request codes received by the node, in order, and whether 0xEE03 enabled the device.
std::vector<unsigned long> pci_ioctls();
void pci_clear_ioctls();
bool pci_enabled();

// Outgoing doorbell values the far side saw, in order (a repeated one twice).
std::vector<uint16_t> pci_doorbells();

// 16-bit word of the window at a byte offset (the window must be attached). Use when the
// library is idle.
uint16_t pci_peek16(uint32_t offset);
void pci_poke16(uint32_t offset, uint16_t value);

// Waits until the interrupt line has delivered everything raised; false on time-out.
bool pci_wait_idle(int timeout_ms = 5000);

}  // namespace bsp::sim

#endif
