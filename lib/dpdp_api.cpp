// DPDP channel over HDLC channel 0: dispatch on the first byte, the reserved 0 byte that
// reconfigures the channel, and the channel-up token that pairs disables with enables.
#include <bsp_ctrl/dpdp_api.h>

#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>
#include <semaphore.h>

#include <atomic>
#include <cstdlib>

namespace bsp::dpdp {

namespace {

constexpr UINT32 kRxBufferSize = 256;
constexpr UINT32 kHdlcOption1 = 15;
constexpr UINT32 kHdlcOption2 = 128;
constexpr UINT8 kReconfigureByte = 0;

struct dpdp_ctrl_t {
    // Fixed settings of the channel; the receive handler reads them at any time.
    UINT32 dpdp_channel_id = 0;
    UINT32 dpdp_clock_mode = 3;
    UINT32 dpdp_baud_rate = 1000000;
    UINT32 dpdp_crc_type = 0;
    NU_SEMAPHORE dpdp_write_sem;
    // Set by application threads while the receive handler reads them.
    std::atomic<UINT8 *> dpdp_header_value;
    std::atomic<dpdp_rx_callback_t> dpdp_rx_callback;
    std::atomic<dpdp_dispatch_fnt_t> dpdp_rx_dispatch_fnt;
};

dpdp_ctrl_t dpdp_ctrl;
sem_t dpdp_hdlc_sem;

int system_time() {
    return static_cast<int>(get_system_time(0));
}

int open_channel() {
    return hdlc_open(dpdp_ctrl.dpdp_channel_id, dpdp_ctrl.dpdp_clock_mode, dpdp_ctrl.dpdp_baud_rate,
                     dpdp_ctrl.dpdp_crc_type, kHdlcOption1, kHdlcOption2);
}

void reconfigure() {
    DpDpDisable();
    DpDpEnable();
    npu_log_printf("[HDLC channel 0] Dp/Dp reconfiguration");
}

void deliver(UINT8 *packet, UINT32 size) {
    UINT8 *header = dpdp_ctrl.dpdp_header_value.load();
    dpdp_dispatch_fnt_t dispatch = dpdp_ctrl.dpdp_rx_dispatch_fnt.load();
    if (header != nullptr && packet[0] == std::atomic_ref<UINT8>(*header).load() &&
        dispatch != nullptr) {
        dispatch(packet, size);
        return;
    }
    dpdp_rx_callback_t callback = dpdp_ctrl.dpdp_rx_callback.load();
    if (callback != nullptr) {
        callback(packet, size);
    }
}

void DpdpRxHandler(UINT32 /*hdlc_id*/) {
    UINT8 buffer[kRxBufferSize];
    while (hdlc_data_ready(dpdp_ctrl.dpdp_channel_id) != 0) {
        UINT32 ret_size = 0;
        int result = hdlc_get_frame(dpdp_ctrl.dpdp_channel_id, buffer, kRxBufferSize, &ret_size);
        // A failed or empty frame has no dispatcher byte to look at: skip it.
        if (result != 0 || ret_size == 0) {
            continue;
        }
        if (ret_size > kRxBufferSize) {
            ret_size = kRxBufferSize;
        }
        if (buffer[0] == kReconfigureByte) {
            reconfigure();
            return;
        }
        log_printf(DBG_DPDP_INDEX, 2,
                   "[DPDP %8d] DpdpRxHandler: received packet, size: %ld, id dispatcher: %ld\n",
                   system_time(), static_cast<long>(ret_size), static_cast<long>(buffer[0]));
        deliver(buffer, ret_size);
    }
}

}  // namespace

}  // namespace bsp::dpdp

using namespace bsp::dpdp;

extern "C" {

BSP_API UINT32 DpdpInstall(void) {
    return 0;
}

BSP_API UINT32 DpdpUninstall(void) {
    return 0;
}

BSP_API INT DpdpInit(void) {
    sem_init(&dpdp_hdlc_sem, 0, 1);
    hdlc_set_reconf_ch_data(0, DpDpEnable, DpDpDisable);
    return 0;
}

BSP_API UINT32 DpdpOpen(dpdp_rx_callback_t dpdpRxCallback) {
    int result = open_channel();
    dpdp_ctrl.dpdp_rx_callback.store(dpdpRxCallback);
    hdlc_install_rx_callback(dpdp_ctrl.dpdp_channel_id, DpdpRxHandler);
    char name[] = "DPDP_SEM";
    OS_Create_Semaphore(&dpdp_ctrl.dpdp_write_sem, name, 1, NU_FIFO);
    log_printf(DBG_DPDP_INDEX, 1, "[DPDP %8d] DpdpOpen %s\n", system_time(),
               result != 0 ? "FAILURE" : "SUCCESS");
    return result != 0 ? 1 : 0;
}

BSP_API INT DpDpEnable(void) {
    int result = open_channel();
    sem_post(&dpdp_hdlc_sem);
    return result != 0 ? 1 : 0;
}

BSP_API INT DpDpDisable(void) {
    if (sem_trywait(&dpdp_hdlc_sem) != 0) {
        return 1;
    }
    return hdlc_close(dpdp_ctrl.dpdp_channel_id) != 0 ? 1 : 0;
}

BSP_API UINT32 DpdpClose(void) {
    int result = hdlc_close(dpdp_ctrl.dpdp_channel_id);
    OS_Delete_Semaphore(&dpdp_ctrl.dpdp_write_sem);
    return result != 0 ? 1 : 0;
}

BSP_API UINT32 DpdpSetHeaderValue(UINT8 header) {
    UINT8 *value = dpdp_ctrl.dpdp_header_value.load();
    if (value == nullptr) {
        value = static_cast<UINT8 *>(std::malloc(1));
        if (value == nullptr) {
            return 1;
        }
        UINT8 *expected = nullptr;
        if (!dpdp_ctrl.dpdp_header_value.compare_exchange_strong(expected, value)) {
            std::free(value);  // another thread allocated it first
            value = expected;
        }
    }
    std::atomic_ref<UINT8>(*value).store(header);
    return 0;
}

BSP_API UINT32 DpdpSetCallback(dpdp_dispatch_fnt_t fnt) {
    dpdp_ctrl.dpdp_rx_dispatch_fnt.store(fnt);
    return 0;
}

BSP_API UINT32 DpdpSend(void *dpdpFramePtr, UINT32 dpdpFrameSize) {
    auto *packet = static_cast<UINT8 *>(dpdpFramePtr);
    if (packet == nullptr || dpdpFrameSize == 0) {
        return 1;  // no dispatcher byte to read
    }
    if (packet[0] == kReconfigureByte) {
        reconfigure();
        return 1;
    }
    if (OS_Obtain_Semaphore(&dpdp_ctrl.dpdp_write_sem, NU_NO_SUSPEND) != NU_SUCCESS) {
        return 1;
    }
    UINT32 ret_size = 0;
    int result = hdlc_put_frame(dpdp_ctrl.dpdp_channel_id, packet, dpdpFrameSize, &ret_size);
    OS_Release_Semaphore(&dpdp_ctrl.dpdp_write_sem);
    log_printf(DBG_DPDP_INDEX, 2, "[DPDP %8d] DpdpSend %ld VS %ld bytes\n", system_time(),
               static_cast<long>(ret_size), static_cast<long>(dpdpFrameSize));
    return result != 0 ? 1 : 0;
}

}  // extern "C"
