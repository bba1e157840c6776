// Device attachment through OS_Init_Driver: a backend registered for a device path provides
// the mapped window; the attachment gets an interrupt line whose entry runs in one
// interrupt thread and is held back while the device's interrupt is masked.
#ifndef BSP_SIM_DRIVER_H
#define BSP_SIM_DRIVER_H

#include <bsp_ctrl/platform/bsp_os.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace bsp::sim {

class InterruptLine {
  public:
    explicit InterruptLine(OS_INTERRUPT_ENTRY entry);
    ~InterruptLine();
    InterruptLine(const InterruptLine &) = delete;
    InterruptLine &operator=(const InterruptLine &) = delete;

    // Work of the device model around each entry, in the interrupt thread: `before` runs
    // just before the entry (to latch what the entry will read), `after` once it returned.
    using Hook = std::function<void(uint16_t int_reg)>;
    void set_hooks(Hook before, Hook after);

    // Queues an interrupt; it is delivered when the line is unmasked.
    void raise(uint16_t int_reg);
    // Masking from any other thread than the interrupt thread waits until an entry in
    // progress (with its hooks) has returned, and no entry starts while it waits: once masked,
    // the caller never runs beside the entry, as with a masked interrupt on the unit.
    void set_masked(bool masked);
    bool masked() const;
    // Waits until every raised interrupt has been delivered and its entry has returned
    // (while unmasked); false on time-out.
    bool wait_idle(int timeout_ms = 5000);
    unsigned delivered() const;

  private:
    void run();

    OS_INTERRUPT_ENTRY entry_;
    Hook before_;
    Hook after_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<uint16_t> pending_;
    bool masked_ = false;
    unsigned mask_requests_ = 0;
    bool in_entry_ = false;
    bool stop_ = false;
    unsigned delivered_ = 0;
    std::thread thread_;
};

class DriverBackend {
  public:
    virtual ~DriverBackend() = default;
    // The device window the library will address; must stay valid until the unit is reset.
    virtual void *window(uint32_t physical_base, uint32_t length) = 0;
    // Called once the interrupt entry is attached.
    virtual void attached(InterruptLine &line) { (void)line; }
    // A request on the descriptor OS_Init_Driver returned; -1 with errno set when refused.
    virtual int ioctl(unsigned long request, void *arg);
};

// Registers the backend that OS_Init_Driver uses for `path`.
void add_driver(const std::string &path, std::shared_ptr<DriverBackend> backend);

// The descriptor OS_Init_Driver returns for `path` (-1 when none can be made), made by the
// build's device layer: the simulated device node on the simulated host, a descriptor of
// the shell's own on a real unit. Requests on it go to driver_ioctl.
int open_driver_node(const char *path);

// Hands a request on the descriptor made for `path` to its backend.
int driver_ioctl(const std::string &path, unsigned long request, void *arg);

// The arguments of the last OS_Init_Driver call that attached `path`.
struct DriverAttach {
    std::string name;
    uint32_t physical_base = 0;
    uint32_t length = 0;
    uint32_t mode = 0;
    uint32_t flags = 0;
    uint32_t options = 0;
};
bool last_attach(const std::string &path, DriverAttach *attach);

// The interrupt line of the attachment made for `path`, or null when none was made.
InterruptLine *interrupt_line(const std::string &path);

// True when the calling thread is the interrupt thread.
bool in_interrupt_context();

}  // namespace bsp::sim

#endif
