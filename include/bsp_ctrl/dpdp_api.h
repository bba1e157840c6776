/** @file
 * DPDP channel: packets to and from the neighbouring processor over HDLC channel 0.
 *
 * The first byte of a packet is its dispatcher byte. Received packets whose dispatcher byte
 * equals the configured header value go to the dispatch function, all others to the receive
 * callback. A packet starting with 0, sent or received, is not carried: it makes the channel
 * close and reopen HDLC channel 0.
 *
 * @par Threads and locks
 * The dispatch function and the receive callback run in the HDLC service's receive context
 * and get a buffer that is valid only during the call. Senders are serialised by the
 * semaphore "DPDP_SEM" without waiting (see DpdpSend).
 */
#ifndef BSP_CTRL_DPDP_API_H
#define BSP_CTRL_DPDP_API_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Receive callback: the whole packet (dispatcher byte included) and its size. */
typedef void (*dpdp_rx_callback_t)(void *packet, UINT32 size);

/** Dispatch function for packets carrying the header value; its result is ignored. */
typedef STATUS (*dpdp_dispatch_fnt_t)(UINT8 *packet, UINT32 size);

/** Nothing to install or uninstall: both return 0. */
/** @{ */
BSP_API UINT32 DpdpInstall(void);
BSP_API UINT32 DpdpUninstall(void);
/** @} */

/** Creates the channel-up token (value 1) and registers DpDpEnable and DpDpDisable as the
 * reconfiguration operations of HDLC channel 0. Call once, before DpdpOpen.
 * @return 0.
 */
BSP_API INT DpdpInit(void);

/** Opens HDLC channel 0 (clock mode 3, 1000000 baud, CRC type 0), keeps `dpdpRxCallback`,
 * installs the receive handler and creates the "DPDP_SEM" semaphore that serialises
 * senders.
 * @return 0 when the channel opened, 1 when not.
 */
BSP_API UINT32 DpdpOpen(dpdp_rx_callback_t dpdpRxCallback);

/** Reconfiguration operation, also called by the HDLC service: opens the channel and gives
 * the token back.
 * @return 0 when opened, 1 when not.
 */
BSP_API INT DpDpEnable(void);

/** Reconfiguration operation, also called by the HDLC service: takes the token without
 * waiting and closes the channel.
 * @return 0 when closed, 1 when there was no token or the close failed.
 */
BSP_API INT DpDpDisable(void);

/** Closes HDLC channel 0 and deletes "DPDP_SEM".
 * @return 0 when the channel closed, 1 when not.
 */
BSP_API UINT32 DpdpClose(void);

/** Sets the dispatcher byte that selects the dispatch function.
 * @return 0, or 1 when the byte for it could not be allocated.
 */
BSP_API UINT32 DpdpSetHeaderValue(UINT8 header);

/** Installs the dispatch function (NULL removes it).
 * @return 0.
 */
BSP_API UINT32 DpdpSetCallback(dpdp_dispatch_fnt_t fnt);

/** Sends one packet unchanged. A packet starting with 0 reconfigures the channel instead.
 * @return 0 when sent; 1 for a NULL or empty packet, for a packet starting with 0, when
 * another sender holds the channel (no waiting), or when the HDLC service refused the
 * packet.
 */
BSP_API UINT32 DpdpSend(void *dpdpFramePtr, UINT32 dpdpFrameSize);

BSP_EXTERN_C_END

#endif
