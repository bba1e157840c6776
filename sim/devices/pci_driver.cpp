// The PCI window's driver, as OS_Init_Driver attaches it: the dual-port-RAM window for the
// mapping, and the interrupt mask, interrupt type and enable requests on its descriptor.
#include <cerrno>

#include "bsp_sim/unit.h"
#include "devices/pci_model.h"

namespace bsp::sim::pci {

namespace {

class PciBackend : public DriverBackend {
  public:
    void *window(uint32_t physical_base, uint32_t length) override {
        return physical_base == kPciPhysicalBase && length <= kPciWindowLength ? pci::window()
                                                                               : nullptr;
    }

    void attached(InterruptLine &l) override { attach(l); }

    int ioctl(unsigned long request, void *arg) override {
        note_ioctl(request);
        InterruptLine *l = line();
        switch (request) {
            case kPciIoctlUnmask:
                // Masked while the far side looks, so that no entry runs beside it.
                if (l) {
                    l->set_masked(true);
                    service();
                    l->set_masked(false);
                }
                return 0;
            case kPciIoctlMask:
                if (l) {
                    l->set_masked(true);
                }
                return 0;
            case kPciIoctlIrqType:
                if (arg == nullptr) {
                    errno = EFAULT;
                    return -1;
                }
                *static_cast<uint32_t *>(arg) = irq_type();
                return 0;
            case kPciIoctlEnable:
                note_enabled();
                return 0;
            default:
                errno = ENOTTY;
                return -1;
        }
    }
};

void reset_pci_driver() {
    reset_far_side();
    add_driver(kPciDevicePath, std::make_shared<PciBackend>());
}

const ResetHook reset_hook{reset_pci_driver};

}  // namespace

}  // namespace bsp::sim::pci
