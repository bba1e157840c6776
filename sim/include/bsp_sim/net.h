// Loopback networking for off-target runs of the TCP frame socket.
#ifndef BSP_SIM_NET_H
#define BSP_SIM_NET_H

namespace bsp::sim {

// A TCP port on the loopback interface that was free a moment ago (the kernel's choice),
// for ti_socket_init in tests and tools; -1 when no socket could be made.
int free_loopback_port();

}  // namespace bsp::sim

#endif
