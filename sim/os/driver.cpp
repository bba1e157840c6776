// OS_Init_Driver: device windows from registered backends, and interrupt lines whose entry
// runs in an interrupt thread while the line is unmasked.
#include "bsp_sim/driver.h"
#include "immortal.h"

#include <cerrno>
#include <chrono>
#include <map>

#include "bsp_sim/fault.h"
#include "bsp_sim/unit.h"

namespace bsp::sim {

namespace {

thread_local bool t_in_interrupt = false;

struct Drivers {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<DriverBackend>> backends;
    std::map<std::string, std::unique_ptr<InterruptLine>> lines;
    std::map<std::string, DriverAttach> attaches;
};

Drivers &drivers() {
    return immortal<Drivers>();
}

void reset_drivers() {
    std::map<std::string, std::unique_ptr<InterruptLine>> lines;
    {
        std::lock_guard lock(drivers().mutex);
        lines.swap(drivers().lines);
        drivers().backends.clear();
        drivers().attaches.clear();
    }
    lines.clear();  // joins the interrupt threads outside the table lock
}

const ResetHook reset_hook{reset_drivers, kCorePhase};

}  // namespace

InterruptLine::InterruptLine(OS_INTERRUPT_ENTRY entry)
    : entry_(entry), thread_([this] { run(); }) {}

InterruptLine::~InterruptLine() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        cv_.notify_all();
    }
    thread_.join();
}

void InterruptLine::run() {
    t_in_interrupt = true;
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] {
            return stop_ || (!masked_ && mask_requests_ == 0 && !pending_.empty());
        });
        if (stop_) {
            return;
        }
        uint16_t reg = pending_.front();
        pending_.pop_front();
        in_entry_ = true;
        Hook before = before_;
        Hook after = after_;
        lock.unlock();
        if (before) {
            before(reg);
        }
        entry_(reg);
        if (after) {
            after(reg);
        }
        lock.lock();
        in_entry_ = false;
        ++delivered_;
        cv_.notify_all();
    }
}

void InterruptLine::raise(uint16_t int_reg) {
    std::lock_guard lock(mutex_);
    pending_.push_back(int_reg);
    cv_.notify_all();
}

void InterruptLine::set_hooks(Hook before, Hook after) {
    std::lock_guard lock(mutex_);
    before_ = std::move(before);
    after_ = std::move(after);
}

void InterruptLine::set_masked(bool masked) {
    std::unique_lock lock(mutex_);
    if (masked && std::this_thread::get_id() != thread_.get_id()) {
        ++mask_requests_;
        cv_.wait(lock, [this] { return stop_ || !in_entry_; });
        --mask_requests_;
    }
    masked_ = masked;
    cv_.notify_all();
}

bool InterruptLine::masked() const {
    std::lock_guard lock(mutex_);
    return masked_;
}

bool InterruptLine::wait_idle(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [this] { return !in_entry_ && (masked_ || pending_.empty()); }) &&
           pending_.empty() && !in_entry_;
}

unsigned InterruptLine::delivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

int DriverBackend::ioctl(unsigned long, void *) {
    errno = ENOTTY;
    return -1;
}

int driver_ioctl(const std::string &path, unsigned long request, void *arg) {
    std::shared_ptr<DriverBackend> backend;
    {
        std::lock_guard lock(drivers().mutex);
        auto it = drivers().backends.find(path);
        if (it != drivers().backends.end()) {
            backend = it->second;
        }
    }
    if (!backend) {
        errno = ENOTTY;
        return -1;
    }
    return backend->ioctl(request, arg);
}

void add_driver(const std::string &path, std::shared_ptr<DriverBackend> backend) {
    std::lock_guard lock(drivers().mutex);
    drivers().backends[path] = std::move(backend);
}

bool last_attach(const std::string &path, DriverAttach *attach) {
    std::lock_guard lock(drivers().mutex);
    auto it = drivers().attaches.find(path);
    if (it == drivers().attaches.end()) {
        return false;
    }
    *attach = it->second;
    return true;
}

InterruptLine *interrupt_line(const std::string &path) {
    std::lock_guard lock(drivers().mutex);
    auto it = drivers().lines.find(path);
    return it == drivers().lines.end() ? nullptr : it->second.get();
}

bool in_interrupt_context() {
    return t_in_interrupt;
}

}  // namespace bsp::sim

extern "C" INT OS_Init_Driver(CHAR *name, CHAR *device_path, UNSIGNED physical_base,
                              UNSIGNED length, UNSIGNED mode, UNSIGNED flags, UNSIGNED options,
                              OS_INTERRUPT_ENTRY entry, void **window) {
    using namespace bsp::sim;
    if (device_path == nullptr || window == nullptr || fault_hit(FaultOp::DriverInit)) {
        return -1;
    }
    std::shared_ptr<DriverBackend> backend;
    {
        std::lock_guard lock(drivers().mutex);
        auto it = drivers().backends.find(device_path);
        if (it == drivers().backends.end()) {
            return -1;
        }
        backend = it->second;
    }
    int fd = open_driver_node(device_path);
    if (fd < 0) {
        return -1;
    }
    *window = backend->window(physical_base, length);
    auto line = entry ? std::make_unique<InterruptLine>(entry) : nullptr;
    InterruptLine *raw = line.get();
    std::unique_ptr<InterruptLine> old;
    {
        std::lock_guard lock(drivers().mutex);
        old = std::move(drivers().lines[device_path]);
        drivers().lines[device_path] = std::move(line);
        drivers().attaches[device_path] =
            DriverAttach{name ? name : "", physical_base, length, mode, flags, options};
    }
    old.reset();
    if (raw) {
        backend->attached(*raw);
    }
    return fd;
}
