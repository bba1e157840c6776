/** @file
 * TCP frame socket: framed messages to one TCP client at a time. Every message goes to the
 * client in a frame of exactly 600 bytes (numbers big-endian):
 * @verbatim
  offset 0      4 bytes    start marker 5A A5 C3 3C (TCPSTART_BYTE1..TCPSTART_BYTE4)
  offset 4      4 bytes    length: always 600
  offset 8      n bytes    message (1 <= n <= 588)
  offset 8 + n  588 - n    zero bytes
  offset 596    4 bytes    stop marker A5 5A 3C C3 (TCPSTOP_BYTE1..TCPSTOP_BYTE4), read as
                           one big-endian word it equals TCPSTOP_WORD
   @endverbatim
 *
 * @par Threads and locks
 * The receive task "TISOCK" accepts a client, and passes every block of 8 to 600 bytes that
 * one receive returns to the callback, without its first 8 bytes. Senders are serialised by
 * the semaphore "ti_sock".
 */
#ifndef BSP_CTRL_TI_SOCKET_DRV_H
#define BSP_CTRL_TI_SOCKET_DRV_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** @name Frame markers
 * The bytes of the start and stop markers, and the stop marker as one big-endian word.
 * @{ */
extern BSP_API const UINT8 TCPSTART_BYTE1; /**< 0x5A */
extern BSP_API const UINT8 TCPSTART_BYTE2; /**< 0xA5 */
extern BSP_API const UINT8 TCPSTART_BYTE3; /**< 0xC3 */
extern BSP_API const UINT8 TCPSTART_BYTE4; /**< 0x3C */
extern BSP_API const UINT8 TCPSTOP_BYTE1;  /**< 0xA5 */
extern BSP_API const UINT8 TCPSTOP_BYTE2;  /**< 0x5A */
extern BSP_API const UINT8 TCPSTOP_BYTE3;  /**< 0x3C */
extern BSP_API const UINT8 TCPSTOP_BYTE4;  /**< 0xC3 */
extern BSP_API const UINT32 TCPSTOP_WORD;  /**< 0xA55A3CC3 */
/** @} */

/** Receive callback, on the receive task: a zero-filled 600-byte buffer holding the
 * received block from its offset 8 on (the length is not passed). The callee owns the
 * buffer and releases it with free(); the result is ignored. */
typedef int (*TI_SOCKET_RX_CALLBACK)(void *msg);

/** Prepares the socket for TCP port `port`: control block, semaphore "ti_sock" and an IPv4
 * stream socket. A previous socket of this library is retired first: its receive task ends
 * and its client and listening sockets are closed (the one way to stop a socket). Not to be
 * called from the receive callback.
 * @return 0, or -1 when the block, the semaphore or the socket cannot be made.
 */
BSP_API int ti_socket_init(int port);

/** Binds to any local address at the port, listens (backlog 1) and starts the receive task
 * "TISOCK", which serves one client at a time.
 * @return 0, or -1 when binding, listening (message "error: ..." on standard error) or the
 * task fails.
 */
BSP_API int ti_socket_open(TI_SOCKET_RX_CALLBACK framer_rx_callback);

/** Sends `length` (1..588) bytes at `tcf_frame` to the connected client as one 600-byte
 * frame. Blocks while another sender holds "ti_sock".
 * @return 0 when sent; -1 for a NULL message, a length of 0 or above 588, no connected
 * client, or a failed send (a client that has gone does not raise SIGPIPE).
 */
BSP_API int ti_socket_write(char *tcf_frame, UINT32 length);

/** Does nothing: the socket, its receive task and its client stay as they are and go on
 * exchanging frames. A new ti_socket_init stops them.
 * @return 0.
 */
BSP_API int ti_socket_close(void);

BSP_EXTERN_C_END

#endif
