// Simulated Linux device nodes. The simulated host interposes open/read/write/lseek/ioctl/
// close (and pread/pwrite, made of a seek, the transfer and a seek back) at the C library
// boundary: a path registered here is opened as a simulated device, and every operation on
// its descriptor goes to the device's model; everything else passes through to the C
// library unchanged.
#ifndef BSP_SIM_DEVICES_H
#define BSP_SIM_DEVICES_H

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bsp::sim {

// One open descriptor of a simulated device. It owns a real descriptor (so that numbers are
// unique and select/termios work where the device is a real pty); the default operations
// act natively on it, so a memfd-backed file reads, writes and seeks like a plain file.
class OpenFile {
  public:
    explicit OpenFile(int fd) : fd_(fd) {}
    virtual ~OpenFile() = default;
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    int fd() const { return fd_; }

    virtual ssize_t read(void *buf, size_t count);
    virtual ssize_t write(const void *buf, size_t count);
    // Offsets are 64-bit on every host, whatever the caller's off_t.
    virtual int64_t lseek(int64_t offset, int whence);
    // Default: fails with ENOTTY.
    virtual int ioctl(unsigned long request, void *arg);
    // Called once when the descriptor is closed, before the real descriptor is.
    virtual void closing() {}

  private:
    int fd_;
};

class Device {
  public:
    virtual ~Device() = default;
    // Opens the node: an open file owning a fresh real descriptor, or null with errno set.
    virtual std::shared_ptr<OpenFile> open(int flags) = 0;
};

void add_device(const std::string &path, std::shared_ptr<Device> device);
void remove_device(const std::string &path);
void remove_all_devices();

// Simulated descriptors currently open (a leak check for tests).
size_t open_device_files();

// A fresh real descriptor with no contents, for devices that model every operation.
int reserve_fd();
// A memory file of `size` zero bytes (or holding `init` when given).
int make_memfd(const char *name, size_t size);

// The commands the library passed to system() since the last reset, in order: recorded, not
// run (system() returns 0 to the library). The hosting application's own calls run for real.
std::vector<std::string> system_commands();

}  // namespace bsp::sim

#endif
