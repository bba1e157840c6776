// The serial framer API: each call fills a driver request on its own stack and passes it to
// the driver entry.
#include <cstdlib>

#include <bsp_ctrl/framer_api.h>

namespace bsp::framer {

namespace {

constexpr int kDebugPortFailed = 6;

// Runs operation `code` with `request` (framer_error starts at 0) and returns its result.
UINT32 call_driver(int code, FRAMER_DRV_REQUEST *request) {
    request->framer_error = 0;
    NU_DRIVER_REQUEST nu = {};
    nu.nu_function = code;
    nu.nu_supplemental_ptr = request;
    Framer_Drv_Entry(&nu);
    return request->framer_error;
}

}  // namespace

}  // namespace bsp::framer

using namespace bsp::framer;

extern "C" {

BSP_API UINT32 FramerInstall(void) {
    return 0;
}

BSP_API UINT32 FramerUninstall(void) {
    return 0;
}

BSP_API UINT32 FramerCreate(UINT32 physChId) {
    FRAMER_DRV_REQUEST request = {};
    request.framer_request_info.framer_initialize.port_type = physChId;
    return call_driver(FRAMER_REQ_INITIALIZE, &request);
}

BSP_API UINT32 FramerDelete(void) {
    FRAMER_DRV_REQUEST request = {};
    return call_driver(FRAMER_REQ_TERMINATE, &request);
}

BSP_API UINT32 FramerOpen(FRAMER_RX_CALLBACK rx_callback, UINT32 BaudRate) {
    FRAMER_DRV_REQUEST request = {};
    request.framer_request_info.framer_assign.rx_callback = rx_callback;
    request.framer_request_info.framer_assign.baudrate = BaudRate;
    return call_driver(FRAMER_REQ_ASSIGN, &request);
}

BSP_API UINT32 FramerClose(void) {
    FRAMER_DRV_REQUEST request = {};
    return call_driver(FRAMER_REQ_RELEASE, &request);
}

BSP_API UINT32 FramerWrite(UINT8 *buffPtr, UINT32 buffSize) {
    FRAMER_DRV_REQUEST request = {};
    request.framer_request_info.framer_output.tcf_msg_len = buffSize;
    request.framer_request_info.framer_output.tcf_frame = buffPtr;
    return call_driver(FRAMER_REQ_OUTPUT, &request);
}

BSP_API UINT32 FramerChangeBaudRate(UINT32 BaudRate) {
    FRAMER_DRV_REQUEST request = {};
    request.framer_request_info.framer_input.baudrate = BaudRate;
    return call_driver(FRAMER_REQ_INPUT, &request);
}

BSP_API int FramerEnableDebugPort(void) {
    if (FramerClose() != 0) {
        return kDebugPortFailed;
    }
    std::system("getty -L ttyS0 115200 vt100");
    return 0;
}

BSP_API UINT32 FramerDisableDebugPort(void) {
    return 0;
}

}  // extern "C"
