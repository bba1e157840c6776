// The TCP frame socket's receive path with arbitrary blocks from a real client on loopback:
// any length, split anywhere, the client going away at any point.
//
// Input: chunks of [length byte][bytes]; a length of 0 closes the client and connects anew.
#include <arpa/inet.h>
#include <bsp_ctrl/ti_socket_drv.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include <bsp_sim/net.h>

#include "fuzz_support.h"

namespace {

int take_message(void *msg) {
    std::free(msg);
    return 0;
}

int g_port = 0;

int connect_client() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(g_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::abort();
    }
    return s;
}

// Ends a client the way a peer hangs up, and waits (briefly) until the library has closed
// its side too, so that the next client finds it accepting again.
void hang_up(int client) {
    ::shutdown(client, SHUT_WR);
    pollfd p{client, POLLIN, 0};
    char sink[256];
    while (::poll(&p, 1, 1000) > 0 && ::recv(client, sink, sizeof sink, 0) > 0) {
    }
    ::close(client);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    bsp::fuzz::fresh_unit();
    g_port = bsp::sim::free_loopback_port();
    if (ti_socket_init(g_port) != 0 || ti_socket_open(take_message) != 0) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bsp::fuzz::Input in(data, size);
    int client = connect_client();
    while (!in.empty()) {
        std::vector<uint8_t> chunk(in.byte());
        if (chunk.empty()) {
            hang_up(client);
            client = connect_client();
            continue;
        }
        chunk.resize(in.take(chunk.data(), chunk.size()));
        if (::send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) {
            break;
        }
    }
    hang_up(client);
    return 0;
}
