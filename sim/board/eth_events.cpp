// The driver's event thread: link events reach the installed callbacks in the driver's own
// context, never inside the call that caused them.
#include <condition_variable>
#include <deque>
#include <thread>

#include "bsp_sim/unit.h"
#include "eth_model.h"
#include "immortal.h"

namespace bsp::sim::eth {

namespace {

struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<LinkEvent> queue;
    std::vector<LinkEvent> raised;
    bool busy = false;  // a callback runs
    bool started = false;
    eth_ecps_link_event_cb ecps = nullptr;
    eth_seis_link_up_event_cb seis = nullptr;
};

Events &events() {
    return immortal<Events>();
}

void deliver_forever() {
    Events &e = events();
    std::unique_lock lock(e.mutex);
    for (;;) {
        e.changed.wait(lock, [&] { return !e.queue.empty(); });
        const LinkEvent ev = e.queue.front();
        e.queue.pop_front();
        const auto ecps = e.ecps;
        const auto seis = e.seis;
        e.busy = true;
        lock.unlock();
        if (ecps != nullptr) {
            ecps(ev.port, ev.status, ev.speed);
        }
        if (seis != nullptr) {
            seis(ev.port, ev.status);
        }
        lock.lock();
        e.busy = false;
        e.changed.notify_all();
    }
}

}  // namespace

void post_link_event(const LinkEvent &event) {
    Events &e = events();
    std::lock_guard lock(e.mutex);
    if (!e.started) {
        std::thread(deliver_forever).detach();  // lives as long as the process
        e.started = true;
    }
    e.raised.push_back(event);
    e.queue.push_back(event);
    e.changed.notify_all();
}

void set_ecps_callback(eth_ecps_link_event_cb cb) {
    std::lock_guard lock(events().mutex);
    events().ecps = cb;
}

void set_seis_callback(eth_seis_link_up_event_cb cb) {
    std::lock_guard lock(events().mutex);
    events().seis = cb;
}

void reset_events() {
    wait_link_events_delivered();
    std::lock_guard lock(events().mutex);
    events().raised.clear();
    events().ecps = nullptr;
    events().seis = nullptr;
}

// Events still on their way reach the library's callbacks before anything they may read
// (the board description, the FPGA) is reset.
const ResetHook quiesce_hook{reset_events, kQuiescePhase};

}  // namespace bsp::sim::eth

namespace bsp::sim {

std::vector<LinkEvent> link_events() {
    std::lock_guard lock(eth::events().mutex);
    return eth::events().raised;
}

void wait_link_events_delivered() {
    eth::Events &e = eth::events();
    std::unique_lock lock(e.mutex);
    e.changed.wait(lock, [&] { return e.queue.empty() && !e.busy; });
}

}  // namespace bsp::sim
