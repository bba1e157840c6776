// The port map between hardware and switch ports, and the SyncE capability of each hardware
// port with its initialisation phase.
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "ehsl_pmap_internal.h"

extern "C" {
BSP_API sem_t ehsl_pmap_synce_init_sem;
}

namespace bsp::pmap {

namespace {

constexpr int kFirstHwPort = 1;
constexpr int kLastHwPort = 3;
constexpr int kCapInitBits = 0x7;    // bits the SyncE link handling may initialise
constexpr int kCapRuntimeBit = 0x8;  // the one bit the application may set or clear
constexpr int kCapReported = 0xE;    // bits reported while PMAP_SYNCE_HW_SUPPORT is set

// Indexed by hardware port; entry 0 is neither initialised nor read.
std::array<lan_eps_port_map, kLastHwPort + 1> portMap{};

// Written by the SyncE link handling while other threads may already read: atomics.
std::array<std::atomic<int>, kLastHwPort + 1> ehsl_pmap_synce_capability{};
std::atomic<int> ehsl_pmap_synce_init_finished{0};
bool synce_init_sem_ready = false;

bool hw_port_valid(int hw_port) {
    return hw_port >= kFirstHwPort && hw_port <= kLastHwPort;
}

bool refuse_hw_port(const char *func, int hw_port) {
    if (hw_port_valid(hw_port)) {
        return false;
    }
    log_printf(DBG_EHSL_PMAP_INDEX, 1, "EHSL_PMAP_D:%s: Invalid hw port: %d\n", func, hw_port);
    return true;
}

bool refuse_capability(const char *func, int capability, int allowed, int hw_port) {
    if ((capability | allowed) == allowed) {
        return false;
    }
    log_printf(DBG_EHSL_PMAP_INDEX, 1,
               "EHSL_PMAP_D:%s: Invalid SyncE capability 0x%x for hw port: %d\n", func,
               static_cast<unsigned>(capability), hw_port);
    return true;
}

// While the initialisation phase is unfinished, waits for the token and passes it on when the
// access is done; afterwards it touches nothing.
class InitPhaseGate {
  public:
    InitPhaseGate() : held_(ehsl_pmap_synce_init_finished.load() == 0) {
        if (held_) {
            while (sem_wait(&ehsl_pmap_synce_init_sem) != 0 && errno == EINTR) {
            }
        }
    }
    ~InitPhaseGate() {
        if (held_) {
            sem_post(&ehsl_pmap_synce_init_sem);
        }
    }
    InitPhaseGate(const InitPhaseGate &) = delete;
    InitPhaseGate &operator=(const InitPhaseGate &) = delete;

  private:
    bool held_;
};

void log_capability(const char *func, int hw_port, int stored) {
    log_printf(DBG_EHSL_PMAP_INDEX, 1, "%s:  hw_port = %d -  capability = 0x%x \n", func, hw_port,
               static_cast<unsigned>(stored));
}

}  // namespace

lan_eps_port_map pmap_entry(int hw_port) {
    return hw_port >= 0 && hw_port <= kLastHwPort ? portMap[static_cast<size_t>(hw_port)]
                                                  : lan_eps_port_map{};
}

}  // namespace bsp::pmap

using namespace bsp::pmap;

extern "C" {

BSP_API void ehsl_pmap_init(void) {
    for (int i = kFirstHwPort; i <= kLastHwPort; ++i) {
        log_printf(DBG_EHSL_PMAP_INDEX, 1, "EHSL_PMAP_D:%s: i = %d\n", __func__, i);
        lan_eps_port_map &e = portMap[static_cast<size_t>(i)];
        e.hwPortNum = i;
        e.epsPortNum = -1;
        e.linkStateReport = 0;
        e.eventSuppress = 0;
        e.wanLinkNum = kvu_hal_get()->cp_num_of_entry[i - 1];
        e.llSpeed = 0;
        e.mac[0] = e.mac[1] = e.mac[2] = e.mac[3] = e.mac[4] = e.mac[5] = 0;
    }
    // Initialised once: a thread may be waiting on it, so a later init only takes every
    // token there is to bring the count back to 0.
    if (!synce_init_sem_ready) {
        sem_init(&ehsl_pmap_synce_init_sem, 0, 0);
        synce_init_sem_ready = true;
    }
    while (sem_trywait(&ehsl_pmap_synce_init_sem) == 0) {
    }
}

BSP_API int ehsl_pmap_hw_to_eps(int hw_port, int *eps_port) {
    if (refuse_hw_port(__func__, hw_port)) {
        return -1;
    }
    const int eps = portMap[static_cast<size_t>(hw_port)].epsPortNum;
    log_printf(DBG_EHSL_PMAP_INDEX, 1,
               "EHSL_PMAP_KVU: ehsl_pmap_hw_to_eps  hw_port =%d epsPortNum =%d...\n", hw_port, eps);
    *eps_port = eps;
    return 0;
}

BSP_API int ehsl_pmap_eps_to_hw(int eps_port, int *hw_port) {
    log_printf(DBG_EHSL_PMAP_INDEX, 2, "EHSL_PMAP_D eps_port arrived %d \n", eps_port);
    for (int i = kFirstHwPort; i <= kLastHwPort; ++i) {
        const lan_eps_port_map &e = portMap[static_cast<size_t>(i)];
        log_printf(DBG_EHSL_PMAP_INDEX, 2, "EHSL_PMAP_D port %d epsPortNum %d \n", i, e.epsPortNum);
        if (e.epsPortNum == eps_port) {
            *hw_port = e.hwPortNum;
            log_printf(DBG_EHSL_PMAP_INDEX, 2, "EHSL_PMAP_D *hw_port setting \n");
            return 0;
        }
    }
    log_printf(DBG_EHSL_PMAP_INDEX, 1,
               "EHSL_PMAP_D:%s: Couldn't find hw-port that corresponds to eps-port: %d\n", __func__,
               eps_port);
    return -1;
}

BSP_API int ehsl_pmap_update(int hw_port, int eps_port, int /*bridge_port*/) {
    if (!hw_port_valid(hw_port)) {
        log_printf(DBG_EHSL_PMAP_INDEX, 1,
                   "[EHSL_PMAP_KVU]Invalid hw port eps_port = %d and hw_port = %d\n", eps_port,
                   hw_port);
        return -1;
    }
    lan_eps_port_map &e = portMap[static_cast<size_t>(hw_port)];
    if (eps_port > 0) {
        e.epsPortNum = eps_port;
        log_printf(DBG_EHSL_PMAP_INDEX, 1, "[EHSL_PMAP_KVU] eps_port = %d and hw_port = %d\n",
                   eps_port, hw_port);
    } else if (eps_port < 0) {
        e.epsPortNum = -1;
        e.linkStateReport = 0;
    }
    log_printf(DBG_EHSL_PMAP_INDEX, 2, "EHSL_PMAP_D:%s: Created for port:%d - %d, 0x%04x\n",
               __func__, e.hwPortNum, e.epsPortNum, static_cast<unsigned>(e.linkStateReport));
    log_printf(DBG_EHSL_PMAP_INDEX, 2, "EHSL_PMAP_KVU: ehsl_pmap_update ...\n");
    return 0;
}

BSP_API int ehsl_pmap_hw_to_bridgeport(int /*hw_port*/, unsigned int * /*bridge_port*/) {
    log_printf(DBG_EHSL_PMAP_INDEX, 1, "EHSL_PMAP_KVU: ehsl_pmap_hw_to_bridgeport ...\n");
    return -1;
}

BSP_API int ehsl_pmap_hw_to_mac(int /*hw_port*/, unsigned char * /*mac*/) {
    return -1;
}

BSP_API int ehsl_pmap_max_speed_get(int /*hw_port*/, int * /*speed*/) {
    return -1;
}

BSP_API int ehsl_pmap_max_speed_set(int /*eps_port*/, int /*speed*/) {
    return -1;
}

BSP_API int ehsl_pmap_link_state_event_get(int hw_port, int *report) {
    log_printf(DBG_EHSL_PMAP_INDEX, 2, "EHSL_PMAP_KVU: ehsl_pmap_link_state_event_get ...\n");
    if (refuse_hw_port(__func__, hw_port)) {
        return -1;
    }
    *report = portMap[static_cast<size_t>(hw_port)].linkStateReport;
    return 0;
}

BSP_API int ehsl_pmap_link_state_event_set(int hw_port, int report) {
    log_printf(DBG_EHSL_PMAP_INDEX, 2, "EHSL_PMAP_KVU: ehsl_pmap_link_state_event_set ...\n");
    if (refuse_hw_port(__func__, hw_port)) {
        return -1;
    }
    portMap[static_cast<size_t>(hw_port)].linkStateReport = report != 0 ? 1 : 0;
    return 0;
}

BSP_API int ehsl_pmap_synce_cap_init(int hw_port, int capability) {
    if (refuse_hw_port(__func__, hw_port) ||
        refuse_capability(__func__, capability, kCapInitBits, hw_port)) {
        return -1;
    }
    ehsl_pmap_synce_capability[static_cast<size_t>(hw_port)] = capability;
    log_printf(DBG_EHSL_PMAP_INDEX, 1,
               "ehsl_pmap_synce_capability:%s - hw_port = %d -  capability = 0x%x \n", __func__,
               hw_port, static_cast<unsigned>(capability));
    return 0;
}

BSP_API int ehsl_pmap_synce_cap_init_finished(void) {
    ehsl_pmap_synce_init_finished = 1;
    sem_post(&ehsl_pmap_synce_init_sem);
    return 0;
}

BSP_API int ehsl_pmap_synce_cap_get(int hw_port, int *capability) {
    if (refuse_hw_port(__func__, hw_port)) {
        return -1;
    }
    InitPhaseGate gate;
    const int stored = ehsl_pmap_synce_capability[static_cast<size_t>(hw_port)];
    *capability = (stored & PMAP_SYNCE_HW_SUPPORT) != 0 ? stored & kCapReported : 0;
    log_capability(__func__, hw_port, stored);
    return 0;
}

BSP_API int ehsl_pmap_synce_cap_set(int hw_port, int capability) {
    if (refuse_hw_port(__func__, hw_port) ||
        refuse_capability(__func__, capability, kCapRuntimeBit, hw_port)) {
        return -1;
    }
    int stored = 0;
    {
        InitPhaseGate gate;
        stored = ehsl_pmap_synce_capability[static_cast<size_t>(hw_port)].fetch_or(capability) |
                 capability;
    }
    log_capability(__func__, hw_port, stored);
    return 0;
}

BSP_API int ehsl_pmap_synce_cap_clear(int hw_port, int capability) {
    if (refuse_hw_port(__func__, hw_port) ||
        refuse_capability(__func__, capability, kCapRuntimeBit, hw_port)) {
        return -1;
    }
    int stored = 0;
    {
        InitPhaseGate gate;
        stored = ehsl_pmap_synce_capability[static_cast<size_t>(hw_port)].fetch_and(~capability) &
                 ~capability;
    }
    log_capability(__func__, hw_port, stored);
    return 0;
}

}  // extern "C"
