// Loopback networking for off-target runs of the TCP frame socket.
#include "bsp_sim/net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bsp::sim {

int free_loopback_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
              ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : -1;
}

}  // namespace bsp::sim
