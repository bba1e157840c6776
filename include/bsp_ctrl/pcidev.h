/** @file
 * PCI dual-port-RAM channel: whole messages of up to 1536 bytes to and from the neighbouring
 * processor through a window of dual-port RAM on "/dev/pci".
 *
 * Each direction has one message area; outgoing messages that find the transmit area busy
 * wait in a queue of 64 descriptors inside the library. Received messages go to one callback,
 * called in the device's interrupt context.
 *
 * @par Threads and locks
 * The channel masks the device interrupt around its critical sections; calls from several
 * application threads are serialised by the library. The receive callback runs in the
 * interrupt context.
 */
#ifndef BSP_CTRL_PCIDEV_H
#define BSP_CTRL_PCIDEV_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Receive callback: the message bytes, their number and the message's device number. Runs
 * in the interrupt context; the bytes are valid only during the call (the single receive
 * buffer is reused). The result is ignored. */
typedef int (*pci_rx_callback_t)(UINT8 *msg, UINT32 len, UINT32 dev);

/** Opens "/dev/pci", maps its window and attaches the interrupt handler, then reads the
 * interrupt type. Called once, before any other function of this family (a second call
 * closes the first descriptor). */
BSP_API void init_pci(void);

/** Enables the device (request 0xEE03). */
BSP_API void enable_pci(void);

/** Writes 1 to the ready flag of the window. */
BSP_API void toggle_pci_ready(void);

/** Empties the transmit queue, publishes `sw_version` to the far side and opens the channel;
 * opening an open channel resets it. The callback is kept.
 * @return 0; -1 when init_pci did not map the window.
 */
BSP_API int pci_open(UINT32 sw_version);

/** Removes the callback and closes the channel; messages already queued keep going out as
 * the far side acknowledges them.
 * @return 0 always.
 */
BSP_API int pci_close(void);

/** Installs the receive callback (NULL removes it).
 * @return 0 always.
 */
BSP_API int pci_install_rx_callback(pci_rx_callback_t callback);

/** Queues one message of 1..1536 bytes for device `dev` (low 8 bits travel) and sends it at
 * once when the transmit area is idle. With 64 messages queued the caller waits until the
 * far side acknowledges one (no time-out).
 * @return 0 when queued or sent; -1 for a bad length, a NULL buffer, a channel that is not
 * open (also when it is closed during the wait), or a full queue when called from the
 * receive callback (the wait could never end there).
 */
BSP_API int pci_send(UINT8 *buff, UINT32 len, UINT32 dev);

/** Places a last message (when `buff` is given and `len` is not 0; clamped to 1536 bytes) in
 * the transmit area directly, drops the queue, marks the channel terminated and hands the
 * logs over for the restart.
 * @return 0 always.
 */
BSP_API int pci_terminate(UINT8 *buff, UINT32 len, UINT32 dev);

/** Masks (request 0xEE01) and unmasks (request 0xEE00) the device interrupt. */
/** @{ */
BSP_API void pci_disable_interrupt(void);
BSP_API void pci_enable_interrupt(void);
/** @} */

BSP_EXTERN_C_END

#endif
