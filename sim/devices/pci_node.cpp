// The node "/dev/pci": the descriptor OS_Init_Driver returns for the PCI window, whose
// requests go to the window's driver.
#include "bsp_sim/devices.h"
#include "bsp_sim/driver.h"
#include "bsp_sim/pci.h"
#include "bsp_sim/unit.h"

namespace bsp::sim::pci {

namespace {

class PciFile : public OpenFile {
  public:
    using OpenFile::OpenFile;

    int ioctl(unsigned long request, void *arg) override {
        return driver_ioctl(kPciDevicePath, request, arg);
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

void add_pci_node() {
    add_device(kPciDevicePath, std::make_shared<PciDevice>());
}

const ResetHook reset_hook{add_pci_node};

}  // namespace

}  // namespace bsp::sim::pci
