/** @file
 * Serial framer API: messages over the serial port in frames (layout in framer_drv.h).
 * Order of use: FramerCreate(0), FramerOpen(callback, rate), any number of FramerWrite and
 * FramerChangeBaudRate, FramerClose (hands the port to the login console), FramerDelete.
 * Every call that reaches the driver returns its framer_error: 0 success, 1 failure.
 *
 * @par Threads and locks
 * Calls may come from any thread, including the receive callback (the driver's threads and
 * locks are in framer_drv.h).
 */
#ifndef BSP_CTRL_FRAMER_API_H
#define BSP_CTRL_FRAMER_API_H

#include <bsp_ctrl/bsp_types.h>
#include <bsp_ctrl/framer_drv.h>

BSP_EXTERN_C_BEGIN

/** Nothing to install.
 * @return 0.
 */
BSP_API UINT32 FramerInstall(void);

/** Nothing to uninstall.
 * @return 0.
 */
BSP_API UINT32 FramerUninstall(void);

/** Creates the framer on channel `physChId` (only 0 opens the port; another channel gives 0
 * but leaves the framer unusable).
 * @return 0; 1 when the timer, semaphore, port or task cannot be made.
 */
BSP_API UINT32 FramerCreate(UINT32 physChId);

/** Deletes the framer's semaphore; afterwards only FramerCreate is accepted.
 * @return the driver's framer_error.
 */
BSP_API UINT32 FramerDelete(void);

/** Applies the port settings at `BaudRate` (fall-back 9600) and starts receiving; each
 * received message is passed to `rx_callback` on the receive task (see framer_drv.h).
 * @return the driver's framer_error.
 */
BSP_API UINT32 FramerOpen(FRAMER_RX_CALLBACK rx_callback, UINT32 BaudRate);

/** Hands the port to the login console at the framer's rate; returns when it ends.
 * @return the driver's framer_error.
 */
BSP_API UINT32 FramerClose(void);

/** Sends `buffSize` (1..588) bytes at `buffPtr` as one frame; returns once transmitted.
 * @return the driver's framer_error.
 */
BSP_API UINT32 FramerWrite(UINT8 *buffPtr, UINT32 buffSize);

/** Changes the port's speed (fall-back 9600).
 * @return the driver's framer_error.
 */
BSP_API UINT32 FramerChangeBaudRate(UINT32 BaudRate);

/** FramerClose, then runs "getty -L ttyS0 115200 vt100".
 * @return 0 when it ends; 6 (nothing started) when FramerClose fails.
 */
BSP_API int FramerEnableDebugPort(void);

/** Does nothing.
 * @return 0.
 */
BSP_API UINT32 FramerDisableDebugPort(void);

BSP_EXTERN_C_END

#endif
