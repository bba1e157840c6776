// Shell commands of the PCI channel: send from the library, send from the simulated far side,
// and show what arrives on each side. The PCI window is a simulated device: simulator only.
#include <bsp_ctrl/pcidev.h>
#include <bsp_sim/sim.h>

#include <condition_variable>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "json.h"
#include "link_print.h"
#include "shell.h"

namespace bsp::shell {

namespace {

bool g_pci_attached = false;

int print_pci_rx(UINT8 *msg, UINT32 len, UINT32 dev) {
    char what[48];
    std::snprintf(what, sizeof what, "pci rx: dev %u", static_cast<unsigned>(dev));
    print_packet(what, msg, len);
    return 0;
}

int settle_pci(int result) {
    sim::pci_wait_idle();
    return result;
}

bool parse_dev_bytes(const Args &args, uint32_t *dev, std::vector<uint8_t> *bytes) {
    return parse_u32(args[0], dev) && parse_bytes(args[1], bytes);
}

// A library call that may wait for the far side without limit (pci_send on a full queue
// whose acknowledgements the far side holds). The shell waits a moment; then it leaves the
// call waiting and reports its result when it returns, so that the prompt stays free for the
// command that releases it.
struct WaitingCall {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool left = false;  // the command has ended: the result is reported when it comes
    int result = 0;
    std::thread thread;
};

std::mutex g_waiting_mutex;
std::list<std::shared_ptr<WaitingCall>> g_waiting;

void join_finished_calls(bool all) {
    std::list<std::shared_ptr<WaitingCall>> finished;
    {
        std::lock_guard lock(g_waiting_mutex);
        for (auto it = g_waiting.begin(); it != g_waiting.end();) {
            std::lock_guard call_lock((*it)->mutex);
            if (all || (*it)->done) {
                finished.splice(finished.end(), g_waiting, it++);
            } else {
                ++it;
            }
        }
    }
    for (auto &c : finished) {
        c->thread.join();
    }
}

// At the end, the far side lets every held acknowledgement go, so that waiting calls return.
void release_waiting_calls() {
    sim::pci_hold_acks(false);
    while (sim::pci_release_ack()) {
    }
    join_finished_calls(true);
}

int call_may_wait(const char *call, std::function<int()> fn) {
    join_finished_calls(false);
    auto c = std::make_shared<WaitingCall>();
    c->thread = std::thread([c, call, fn] {
        int result = fn();
        std::lock_guard lock(c->mutex);
        c->result = result;
        c->done = true;
        if (c->left) {
            print_result(call, result);
            std::fflush(stdout);
        }
        c->cv.notify_all();
    });
    std::unique_lock lock(c->mutex);
    if (!c->cv.wait_for(lock, std::chrono::milliseconds(500), [&] { return c->done; })) {
        c->left = true;  // said under the call's lock, so that its result comes after this
        std::printf(
            "%s waits: the transmit queue is full and the far side holds its "
            "acknowledgements; pci-ack or pci-hold off releases it (its result "
            "follows)\n",
            call);
        std::fflush(stdout);
        lock.unlock();
        static bool hooked = false;
        if (!hooked) {
            hooked = true;
            at_shell_exit(release_waiting_calls);
        }
        std::lock_guard list_lock(g_waiting_mutex);
        g_waiting.push_back(c);
        return 0;
    }
    lock.unlock();
    c->thread.join();
    print_result(call, c->result);
    return c->result == 0 ? 0 : fail("%s = %d", call, c->result);
}

int cmd_pci_open(const Args &args) {
    uint32_t version = 0x00010000;
    if (!args.empty() && !parse_u32(args[0], &version)) {
        return 1;
    }
    pci_install_rx_callback(print_pci_rx);  // first: a waiting message arrives at once
    if (!g_pci_attached) {
        init_pci();
        enable_pci();
        toggle_pci_ready();
        g_pci_attached = true;
    }
    int result = pci_open(version);
    char call[32];
    std::snprintf(call, sizeof call, "pci_open(0x%08x)", static_cast<unsigned>(version));
    print_result(call, result);
    return settle_pci(result == 0 ? 0 : fail("%s = %d", call, result));
}

int cmd_pci_send(const Args &args) {
    uint32_t dev = 0;
    std::vector<uint8_t> bytes;
    if (!parse_dev_bytes(args, &dev, &bytes)) {
        return 1;
    }
    return settle_pci(call_may_wait("pci_send", [bytes, dev]() mutable {
        int result = pci_send(bytes.data(), static_cast<UINT32>(bytes.size()), dev);
        sim::pci_wait_idle();
        return result;
    }));
}

int cmd_pci_inject(const Args &args) {
    uint32_t dev = 0;
    std::vector<uint8_t> bytes;
    if (!parse_range(args[0], 0, 255, "DEV (one byte in the window)", &dev) ||
        !parse_bytes(args[1], &bytes)) {
        return 1;
    }
    if (bytes.size() > sim::kPciBuffBytes) {
        return fail("at most %u bytes fit the receive area", sim::kPciBuffBytes);
    }
    sim::pci_inject(bytes, dev);
    return settle_pci(0);
}

int cmd_pci_hold(const Args &args) {
    if (!parse_choice(args[0], {"on", "off"}, "pci-hold")) {
        return 1;
    }
    sim::pci_hold_acks(args[0] == "on");
    return settle_pci(0);
}

int cmd_pci_ack(const Args &args) {
    uint32_t count = 1;
    if (!args.empty() && !parse_range(args[0], 1, 65, "N", &count)) {
        return 1;
    }
    uint32_t released = 0;
    while (released < count && sim::pci_release_ack()) {
        ++released;
        sim::pci_wait_idle();
    }
    std::printf("%u acknowledgement(s) released\n", static_cast<unsigned>(released));
    return 0;
}

void print_pci_far_json(const std::vector<sim::PciMessage> &taken, size_t first) {
    std::vector<std::string> items;
    for (size_t i = 0; i < taken.size(); ++i) {
        items.push_back(JsonObject()
                            .num("index", static_cast<long long>(first + i))
                            .num("dev", taken[i].dev)
                            .raw("bytes", json_bytes(taken[i].bytes.data(), taken[i].bytes.size()))
                            .text());
    }
    char version[16];
    std::snprintf(version, sizeof version, "0x%04x%04x", sim::pci_peek16(sim::kPciApuStatusH),
                  sim::pci_peek16(sim::kPciApuStatusL));
    JsonObject()
        .raw("taken", json_array(items))
        .num("held_acks", static_cast<long long>(sim::pci_held_acks()))
        .num("rx_pending", static_cast<long long>(sim::pci_rx_pending()))
        .num("ready", sim::pci_peek16(sim::kPciReady))
        .str("software_version", version)
        .print();
}

int cmd_pci_far(const Args &) {
    sim::pci_wait_idle();
    std::vector<sim::PciMessage> taken = sim::pci_taken();
    size_t first = sim::pci_taken_count() - taken.size();
    if (json()) {
        print_pci_far_json(taken, first);
        return 0;
    }
    for (size_t i = 0; i < taken.size(); ++i) {
        char what[64];
        std::snprintf(what, sizeof what, "far side took #%zu: dev %u", first + i,
                      static_cast<unsigned>(taken[i].dev));
        print_packet(what, taken[i].bytes.data(), taken[i].bytes.size());
    }
    std::printf("held acknowledgements %zu, messages to the library waiting %zu\n",
                sim::pci_held_acks(), sim::pci_rx_pending());
    std::printf("ready flag %u, software version 0x%04x%04x\n", sim::pci_peek16(sim::kPciReady),
                sim::pci_peek16(sim::kPciApuStatusH), sim::pci_peek16(sim::kPciApuStatusL));
    return 0;
}

int cmd_pci_close(const Args &) {
    print_result("pci_close", pci_close());
    return settle_pci(0);
}

int cmd_pci_terminate(const Args &args) {
    uint32_t dev = 0;
    std::vector<uint8_t> bytes;
    if (args.size() == 1) {
        return fail("usage: pci-terminate [DEV BYTES]");
    }
    if (args.size() == 2 && !parse_dev_bytes(args, &dev, &bytes)) {
        return 1;
    }
    int result = pci_terminate(bytes.empty() ? nullptr : bytes.data(),
                               static_cast<UINT32>(bytes.size()), dev);
    print_result("pci_terminate", result);
    return settle_pci(0);
}

constexpr Command kCommands[] = {
    {"pci-open", 0, 1, "[VERSION]", "attach the PCI device (first time) and open the channel",
     cmd_pci_open},
    {"pci-send", 2, 2, "DEV BYTES", "send a message to the far side", cmd_pci_send},
    {"pci-inject", 2, 2, "DEV BYTES", "the far side sends a message (DEV 0..255)", cmd_pci_inject},
    {"pci-hold", 1, 1, "on|off", "far side holds its acknowledgements back", cmd_pci_hold},
    {"pci-ack", 0, 1, "[N]", "release held acknowledgements (N 1..65)", cmd_pci_ack},
    {"pci-far", 0, 0, "", "show what the far side took and its window view", cmd_pci_far},
    {"pci-close", 0, 0, "", "close the PCI channel", cmd_pci_close},
    {"pci-terminate", 0, 2, "[DEV BYTES]", "send a last message and terminate", cmd_pci_terminate},
};

}  // namespace

std::span<const Command> pci_commands() {
    return kCommands;
}

}  // namespace bsp::shell
