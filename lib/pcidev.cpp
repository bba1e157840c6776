// PCI dual-port-RAM channel: the transmit queue, the interrupt handler and the channel's
// life cycle. Window layout and message copies are in pcidev_dpram.cpp.
#include <bsp_ctrl/pcidev.h>

#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "pcidev_dpram.h"

namespace bsp::pcidev {

namespace {

constexpr UINT32 kQueueLen = 64;
constexpr UINT32 kPhysicalBase = 0x18000000;
constexpr UINT32 kWindowLength = 0x200000;
constexpr unsigned long kIoctlUnmask = 0xEE00;
constexpr unsigned long kIoctlMask = 0xEE01;
constexpr unsigned long kIoctlIrqType = 0xEE02;
constexpr unsigned long kIoctlEnable = 0xEE03;
constexpr long kFullQueuePauseNs = 1000000;  // between two looks at a full queue

enum pci_status_e : UINT32 { PCI_CLOSED = 0, PCI_OPENED = 1, PCI_TERMINATED = 2 };

struct pci_bd_t {
    UINT8 *buff;
    UINT32 len;
    UINT32 dev;
};

using pci_bd_rx_t = pci_bd_t;

struct pci_bd_tx_t {
    pci_bd_t pci_bd[kQueueLen];
    pci_bd_t *write_bd_ptr;       // next descriptor to fill
    pci_bd_t *read_bd_ptr;        // descriptor in (or next going to) the transmit area
    std::atomic<UINT32> msg_num;  // queued, including the one in the transmit area
};

struct pci_ctrl_t {
    std::atomic<UINT32> pci_status;
    UINT32 pci_sw_version;
    UINT8 pci_rx_msg[kMsgMax];
    pci_bd_rx_t pci_rx;
    UINT8 pci_tx_msg[kQueueLen][kMsgMax];
    pci_bd_tx_t pci_tx;
    std::atomic<pci_rx_callback_t> pci_rx_callback;
};

pci_ctrl_t pci_ctrl;
int fd_pci = -1;
UINT32 pci_irq_type;
void *pci_dpram_baseaddr;
pci_dpram_t *pci_dpram_ptr;
volatile UINT16 *pci_doorbell_tx_ptr;
volatile UINT16 *pci_doorbell_rx_ptr;
volatile UINT16 *pci_ready_ptr;

// Masking keeps the interrupt handler out; this keeps application threads out of each
// other's critical sections. The handler itself (and a callback it runs) never takes it.
std::mutex g_callers;
thread_local bool t_in_handler = false;

int now_ms() {
    return static_cast<int>(OS_Retrieve_Clock() * 10u);
}

pci_bd_t *next_bd(pci_bd_t *bd) {
    pci_bd_t *first = pci_ctrl.pci_tx.pci_bd;
    return bd == first + kQueueLen - 1 ? first : bd + 1;
}

// A critical section: the interrupt masked and, outside the handler, the callers' lock held.
class Masked {
  public:
    Masked() : owns_(!t_in_handler) {
        if (owns_) {
            g_callers.lock();
        }
        pci_disable_interrupt();
    }
    ~Masked() {
        pci_enable_interrupt();
        if (owns_) {
            g_callers.unlock();
        }
    }
    Masked(const Masked &) = delete;
    Masked &operator=(const Masked &) = delete;

  private:
    bool owns_;
};

void place_in_tx_area(const UINT8 *buff, UINT32 len, UINT32 dev) {
    pci_write_frame_to_dpram(pci_dpram_ptr, buff, len, dev);
    *pci_doorbell_tx_ptr = kBellTxPlaced;
}

void enqueue_masked(const UINT8 *buff, UINT32 len, UINT32 dev) {
    pci_bd_tx_t &tx = pci_ctrl.pci_tx;
    pci_bd_t *bd = tx.write_bd_ptr;
    std::copy(buff, buff + len, bd->buff);
    bd->len = len;
    bd->dev = dev;
    UINT32 queued = tx.msg_num.load();
    if (queued == 0) {
        place_in_tx_area(tx.read_bd_ptr->buff, tx.read_bd_ptr->len, tx.read_bd_ptr->dev);
    }
    tx.msg_num.store(queued + 1);
    tx.write_bd_ptr = next_bd(bd);
}

void log_closed() {
    log_printf(DBG_PCI_INDEX, 1, "[PCI %8d ms] err: 'pci_send' called when driver is closed\n",
               now_ms());
}

void pause_full_queue() {
    struct timespec pause = {0, kFullQueuePauseNs};
    nanosleep(&pause, nullptr);
}

void pci_rx_hisr_handler() {
    UINT32 dev = 0;
    UINT32 len = pci_read_frame_from_dpram(pci_dpram_ptr, pci_ctrl.pci_rx_msg, &dev);
    pci_ctrl.pci_rx.len = len;
    pci_ctrl.pci_rx.dev = dev;
    pci_rx_callback_t callback = pci_ctrl.pci_rx_callback.load();
    if (len != 0 && callback != nullptr) {
        callback(pci_ctrl.pci_rx.buff, len, dev);
    }
    *pci_doorbell_tx_ptr = kBellRxTaken;
    pci_dpram_ptr->apu_status_l = static_cast<UINT16>(pci_ctrl.pci_sw_version);
    pci_dpram_ptr->apu_status_h = static_cast<UINT16>(pci_ctrl.pci_sw_version >> 16);
}

void pci_tx_hisr_handler() {
    pci_bd_tx_t &tx = pci_ctrl.pci_tx;
    UINT32 queued = tx.msg_num.load();
    if (queued == 0) {
        log_printf(DBG_PCI_INDEX, 1,
                   "[PCI %8d ms] warning: 'pci_tx_hisr' spurious interrupt or driver "
                   "terminated\n",
                   now_ms());
        return;
    }
    tx.read_bd_ptr = next_bd(tx.read_bd_ptr);
    tx.msg_num.store(queued - 1);
    if (queued - 1 > 0) {
        place_in_tx_area(tx.read_bd_ptr->buff, tx.read_bd_ptr->len, tx.read_bd_ptr->dev);
    }
}

void pci_lisr_handler(UINT16 /*int_reg*/) {
    if (pci_dpram_ptr == nullptr) {
        return;
    }
    t_in_handler = true;
    UINT16 bell = *pci_doorbell_rx_ptr;
    if ((bell & kBellRxWaiting) != 0) {
        pci_rx_hisr_handler();
    }
    if ((bell & kBellTxDone) != 0) {
        pci_tx_hisr_handler();
    }
    if (pci_irq_type == 0) {
        pci_enable_interrupt();
    }
    t_in_handler = false;
}

void forget_window() {
    pci_dpram_baseaddr = nullptr;
    pci_dpram_ptr = nullptr;
    pci_doorbell_tx_ptr = pci_doorbell_rx_ptr = pci_ready_ptr = nullptr;
}

}  // namespace

}  // namespace bsp::pcidev

using namespace bsp::pcidev;

extern "C" {

BSP_API void init_pci(void) {
    if (fd_pci >= 0) {
        close(fd_pci);
        fd_pci = -1;
    }
    forget_window();
    char name[] = "PCI_ISR_HANDLER";
    char path[] = "/dev/pci";
    int fd = OS_Init_Driver(name, path, kPhysicalBase, kWindowLength, 3, 0x2001, 0,
                            pci_lisr_handler, &pci_dpram_baseaddr);
    if (fd < 0 || pci_dpram_baseaddr == nullptr) {
        // Without a window every later access would fault: the channel stays unusable.
        log_printf(DBG_PCI_INDEX, 1, "[PCI %8d ms] err: 'init_pci' device not attached\n",
                   now_ms());
        if (fd >= 0) {
            close(fd);
        }
        forget_window();
        pci_ctrl.pci_status.store(PCI_CLOSED);
        return;
    }
    fd_pci = fd;
    ioctl(fd_pci, kIoctlIrqType, &pci_irq_type);
    auto *base = static_cast<UINT8 *>(pci_dpram_baseaddr);
    pci_dpram_ptr = reinterpret_cast<pci_dpram_t *>(base + kDpramOffset);
    pci_doorbell_tx_ptr = reinterpret_cast<volatile UINT16 *>(base + kDoorbellTxOffset);
    pci_doorbell_rx_ptr = reinterpret_cast<volatile UINT16 *>(base + kDoorbellRxOffset);
    pci_ready_ptr = reinterpret_cast<volatile UINT16 *>(base + kReadyOffset);
}

BSP_API void enable_pci(void) {
    if (fd_pci >= 0) {
        ioctl(fd_pci, kIoctlEnable);
    }
}

BSP_API void toggle_pci_ready(void) {
    if (pci_ready_ptr != nullptr) {
        *pci_ready_ptr = 1;
    }
}

BSP_API int pci_open(UINT32 sw_version) {
    if (pci_dpram_ptr == nullptr) {
        return -1;
    }
    Masked masked;
    pci_ctrl.pci_rx.len = 0;
    pci_ctrl.pci_rx.buff = pci_ctrl.pci_rx_msg;
    pci_bd_tx_t &tx = pci_ctrl.pci_tx;
    for (UINT32 i = 0; i < kQueueLen; ++i) {
        tx.pci_bd[i].buff = pci_ctrl.pci_tx_msg[i];
        tx.pci_bd[i].len = 0;
    }
    tx.write_bd_ptr = tx.read_bd_ptr = &tx.pci_bd[0];
    tx.msg_num.store(0);
    pci_ctrl.pci_sw_version = sw_version;
    pci_ctrl.pci_status.store(PCI_OPENED);
    return 0;
}

BSP_API int pci_close(void) {
    Masked masked;
    pci_ctrl.pci_rx_callback.store(nullptr);
    pci_ctrl.pci_status.store(PCI_CLOSED);
    return 0;
}

BSP_API int pci_install_rx_callback(pci_rx_callback_t callback) {
    pci_ctrl.pci_rx_callback.store(callback);
    return 0;
}

BSP_API int pci_send(UINT8 *buff, UINT32 len, UINT32 dev) {
    if (len == 0 || len > kMsgMax) {
        log_printf(DBG_PCI_INDEX, 1, "[PCI %8d ms] err: 'pci_send' invalid length=%d\n", now_ms(),
                   static_cast<int>(len));
        return -1;
    }
    if (buff == nullptr) {
        log_printf(DBG_PCI_INDEX, 1, "[PCI %8d ms] err: 'pci_send' invalid buffer\n", now_ms());
        return -1;
    }
    if (pci_ctrl.pci_status.load() != PCI_OPENED) {
        log_closed();
        return -1;
    }
    for (;;) {
        while (pci_ctrl.pci_tx.msg_num.load() == kQueueLen) {
            log_printf(DBG_PCI_INDEX, 2, "[PCI %8d ms] warning: 'pci_send' full queue\n", now_ms());
            if (t_in_handler) {
                return -1;  // acknowledgements arrive through this very handler
            }
            pause_full_queue();
        }
        Masked masked;
        if (pci_ctrl.pci_status.load() != PCI_OPENED) {
            log_closed();
            return -1;
        }
        if (pci_ctrl.pci_tx.msg_num.load() < kQueueLen) {
            enqueue_masked(buff, len, dev);
            return 0;
        }
    }
}

BSP_API int pci_terminate(UINT8 *buff, UINT32 len, UINT32 dev) {
    {
        Masked masked;
        if (buff != nullptr && len != 0 && pci_dpram_ptr != nullptr) {
            place_in_tx_area(buff, len, dev);
        }
        pci_ctrl.pci_tx.msg_num.store(0);
        pci_ctrl.pci_status.store(PCI_TERMINATED);
    }
    dbg_handle_logs_at_restart();
    return 0;
}

BSP_API void pci_disable_interrupt(void) {
    if (fd_pci >= 0) {
        ioctl(fd_pci, kIoctlMask);
    }
}

BSP_API void pci_enable_interrupt(void) {
    if (fd_pci >= 0) {
        ioctl(fd_pci, kIoctlUnmask);
    }
}

}  // extern "C"
