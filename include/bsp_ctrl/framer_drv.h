/** @file
 * Serial framer driver: whole messages over the serial port "/dev/ttyS0", each carried in a
 * frame (all numbers big-endian):
 * @verbatim
  offset 0      4 bytes  start marker 5A A5 C3 3C (START_BYTE1..START_BYTE4)
  offset 4      4 bytes  frame length = message length + 12
  offset 8      n bytes  message, as it is (1 <= n <= 588)
  offset 8 + n  4 bytes  stop marker A5 5A 3C C3 (STOP_BYTE1..STOP_BYTE4), read as one
                         big-endian word it equals STOP_WORD
   @endverbatim
 *
 * The API (framer_api.h) fills a FRAMER_DRV_REQUEST and passes it to Framer_Drv_Entry
 * inside an NU_DRIVER_REQUEST whose nu_function is one of the FRAMER_REQ_* codes. Every
 * operation reports through framer_error: 0 done, 1 failed; an operation that returns
 * without setting it leaves the caller's 0.
 *
 * @par Threads and locks
 * The operations may be called from any application thread and from the receive callback.
 * The receive task "FRAMER" reads the port and runs the callback; the byte time-out timer
 * runs in the timer service's context. Senders are serialised by the semaphore "t_framer".
 */
#ifndef BSP_CTRL_FRAMER_DRV_H
#define BSP_CTRL_FRAMER_DRV_H

#include <bsp_ctrl/bsp_types.h>
#include <bsp_ctrl/platform/bsp_os.h>

BSP_EXTERN_C_BEGIN

/** @name Frame markers
 * The bytes of the start and stop markers, and the stop marker as one big-endian word.
 * @{ */
extern BSP_API const UINT8 START_BYTE1; /**< 0x5A */
extern BSP_API const UINT8 START_BYTE2; /**< 0xA5 */
extern BSP_API const UINT8 START_BYTE3; /**< 0xC3 */
extern BSP_API const UINT8 START_BYTE4; /**< 0x3C */
extern BSP_API const UINT8 STOP_BYTE1;  /**< 0xA5 */
extern BSP_API const UINT8 STOP_BYTE2;  /**< 0x5A */
extern BSP_API const UINT8 STOP_BYTE3;  /**< 0x3C */
extern BSP_API const UINT8 STOP_BYTE4;  /**< 0xC3 */
extern BSP_API const UINT32 STOP_WORD;  /**< 0xA55A3CC3 */
/** @} */

/** Receive callback: a 588-byte buffer holding the message, zero-filled beyond it (the
 * length is not passed). The callee owns the buffer and releases it with free(). */
typedef void (*FRAMER_RX_CALLBACK)(UINT8 *msg);

/** Operation codes (nu_function). */
enum {
    FRAMER_REQ_INITIALIZE = 1,
    FRAMER_REQ_ASSIGN = 2,
    FRAMER_REQ_RELEASE = 3,
    FRAMER_REQ_INPUT = 4,
    FRAMER_REQ_OUTPUT = 5,
    FRAMER_REQ_STATUS = 6,
    FRAMER_REQ_TERMINATE = 7
};

/** framer_status of the driver. */
typedef enum {
    FRAMER_DRV_UNINITIALIZED = 0,
    FRAMER_DRV_READY = 1,
    FRAMER_DRV_ASSIGNED = 2
} FRAMER_DRV_STATUS;

/** Request of Framer_Drv_Initialize. */
typedef struct FRAMER_DRV_INITIALIZE_struct {
    UINT32 port_type; /**< physical channel number; only 0 carries frames */
} FRAMER_DRV_INITIALIZE;

/** Request of Framer_Drv_Assign. */
typedef struct FRAMER_DRV_ASSIGN_struct {
    FRAMER_RX_CALLBACK rx_callback;
    UINT32 baudrate;
} FRAMER_DRV_ASSIGN;

/** Request of Framer_Drv_Input. */
typedef struct FRAMER_DRV_INPUT_struct {
    UINT32 baudrate;
} FRAMER_DRV_INPUT;

/** Request of Framer_Drv_Output: the message's length and bytes. */
typedef struct FRAMER_DRV_OUTPUT_struct {
    UINT32 tcf_msg_len;
    UINT8 *tcf_frame;
} FRAMER_DRV_OUTPUT;

/** The driver's request record, passed in NU_DRIVER_REQUEST::nu_supplemental_ptr. */
typedef struct FRAMER_DRV_REQUEST_struct {
    union {
        FRAMER_DRV_INITIALIZE framer_initialize;
        FRAMER_DRV_ASSIGN framer_assign;
        FRAMER_DRV_INPUT framer_input;
        FRAMER_DRV_OUTPUT framer_output;
    } framer_request_info;
    UINT32 framer_error; /**< 0 done, 1 failed */
} FRAMER_DRV_REQUEST;

/** Calls the operation named by request->nu_function with the FRAMER_DRV_REQUEST in
 * request->nu_supplemental_ptr; other codes do nothing. */
BSP_API void Framer_Drv_Entry(NU_DRIVER_REQUEST *request);

/** Creates the framer: a new control block, the semaphore "t_framer", the port opened
 * read/write (not as controlling terminal), the receive task "FRAMER" and the byte
 * time-out timer. A channel other than 0 leaves the framer uninitialised and reports 0.
 * Fails (1) when any of the block, timer, semaphore, port or task cannot be made; what was
 * made is released again (a timer, which cannot be deleted, stays disabled). A previous
 * framer whose port is still open has that port closed. */
BSP_API void Framer_Drv_Initialize(FRAMER_DRV_REQUEST *request);

/** Opens the framer: applies the port settings at `baudrate` (2400, 4800, 9600, 19200,
 * 38400, 57600 or 115200; any other rate gives 9600), discards pending input, starts the
 * receiver hunting for a start marker and installs `rx_callback` (may be NULL). Fails when
 * the framer is uninitialised or its port has been closed. */
BSP_API void Framer_Drv_Assign(FRAMER_DRV_REQUEST *request);

/** Hands the port to the login console: discards input, closes the port (the receive task
 * then ends), removes the callback and runs "getty -L ttyS0 <rate> vt100" with system(),
 * returning when it ends. The port is closed only once: when the receive task has already
 * handed it over, nothing is run again. Fails when the framer is uninitialised. */
BSP_API void Framer_Drv_Release(FRAMER_DRV_REQUEST *request);

/** Changes the port's speed (same rates and fall-back as Framer_Drv_Assign). */
BSP_API void Framer_Drv_Input(FRAMER_DRV_REQUEST *request);

/** Sends one message of 1..588 bytes as a frame and waits until it is transmitted. Fails
 * before sending anything for a NULL message, a length of 0 or above 588, or a framer that
 * is not open; blocks while another sender holds "t_framer". */
BSP_API void Framer_Drv_Output(FRAMER_DRV_REQUEST *request);

/** Does nothing. */
BSP_API void Framer_Drv_Status(FRAMER_DRV_REQUEST *request);

/** Deletes the semaphore "t_framer" and makes the framer uninitialised; the port, the task
 * and the timer stay as they are (FramerClose ends them). */
BSP_API void Framer_Drv_Terminate(FRAMER_DRV_REQUEST *request);

BSP_EXTERN_C_END

#endif
