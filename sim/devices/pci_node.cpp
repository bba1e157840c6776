// The node "/dev/pci" and its OS_Init_Driver backend: interrupt mask, interrupt type and
// enable requests on the descriptor, the dual-port-RAM window for the mapping.
#include <cerrno>

#include "bsp_sim/devices.h"
#include "bsp_sim/unit.h"
#include "devices/pci_model.h"

namespace bsp::sim::pci {

namespace {

class PciFile : public OpenFile {
  public:
    using OpenFile::OpenFile;

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

class PciDevice : public Device {
  public:
    std::shared_ptr<OpenFile> open(int) override {
        int fd = reserve_fd();
        if (fd < 0) {
            return nullptr;
        }
        return std::make_shared<PciFile>(fd);
    }
};

class PciBackend : public DriverBackend {
  public:
    void *window(uint32_t physical_base, uint32_t length) override {
        return physical_base == kPciPhysicalBase && length <= kPciWindowLength ? pci::window()
                                                                               : nullptr;
    }
    void attached(InterruptLine &l) override { attach(l); }
};

void reset_pci() {
    reset_far_side();
    add_device(kPciDevicePath, std::make_shared<PciDevice>());
    add_driver(kPciDevicePath, std::make_shared<PciBackend>());
}

const ResetHook reset_hook{reset_pci};

}  // namespace

}  // namespace bsp::sim::pci
