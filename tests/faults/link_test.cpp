// Fault matrix of the links to the far side: the PCI channel initialised, opened and used
// for one message; the DPDP channel initialised, opened and used for one packet.
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_ctrl/pcidev.h>

#include <bsp_sim/sim.h>

#include <array>

#include "matrix.h"

namespace bsp::test {
namespace {

int ignore_message(UINT8 *, UINT32, UINT32) {
    return 0;
}
void ignore_packet(void *, UINT32) {}

class PciOpenSend : public Operation {
  public:
    long fail_code() const override { return -1; }
    long run() override {
        init_pci();
        enable_pci();
        pci_install_rx_callback(ignore_message);
        if (int r = pci_open(0x12345678); r != 0) {
            return r;
        }
        std::array<UINT8, 16> msg{1, 2, 3, 4};
        return pci_send(msg.data(), msg.size(), 1);
    }
    void undo() override {
        pci_close();
        pci_install_rx_callback(nullptr);
        EXPECT_TRUE(sim::pci_wait_idle());
    }
    // The interrupt-type, enable and mask requests and the close of a replaced descriptor
    // are made by functions without a result: their failures cannot be reported.
    bool ignored(sim::FaultOp op, unsigned) const override {
        return op == sim::FaultOp::Ioctl || op == sim::FaultOp::Close;
    }
    // "/dev/pci" stays open for the life of the process (a new init_pci replaces it).
    size_t kept_files() const override { return 1; }
};

class DpdpOpenSend : public Operation {
  public:
    long run() override {
        if (INT r = DpdpInit(); r != 0) {
            return r;
        }
        if (UINT32 r = DpdpOpen(ignore_packet); r != 0) {
            return r;
        }
        std::array<UINT8, 8> packet{0x11, 2, 3, 4};
        return DpdpSend(packet.data(), packet.size());
    }
    void undo() override { DpdpClose(); }
};

class LinkFaults : public FaultMatrix {};

BSP_FAULT_CASE(LinkFaults, PciOpenSend, PciOpenSend, "pcidev");
BSP_FAULT_CASE(LinkFaults, DpdpOpenSend, DpdpOpenSend, "dpdp");
BSP_FAULT_MATRIX(LinkFaults);

}  // namespace
}  // namespace bsp::test
