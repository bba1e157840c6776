// Internal to the simulated PCI device: the far-side processor model shared by the device
// node (pci_node.cpp) and the far side's own operations (pci_far_side.cpp).
#ifndef BSP_SIM_DEVICES_PCI_MODEL_H
#define BSP_SIM_DEVICES_PCI_MODEL_H

#include <cstdint>

#include "bsp_sim/driver.h"
#include "bsp_sim/pci.h"

namespace bsp::sim::pci {

// The dual-port-RAM window: one static block, so that a library that still points at it
// after a unit reset never touches freed memory. Cleared by the reset.
void *window();

// Attaches the far side to the interrupt line OS_Init_Driver made for the node.
void attach(InterruptLine &line);

// The far side looks at what the library left in the window (outgoing doorbell, transmit
// area, receive area); called when the library unmasks the interrupt.
void service();

// The attached interrupt line, or null before OS_Init_Driver.
InterruptLine *line();

void note_ioctl(unsigned long request);
void note_enabled();
uint32_t irq_type();

// Puts the far side back to its start state (window cleared, no line).
void reset_far_side();

}  // namespace bsp::sim::pci

#endif
