// Fixture of the TCP frame socket tests: a free loopback port, a receive callback that
// records every buffer, and real TCP clients.
#ifndef BSP_TESTS_TI_SOCKET_TI_SOCKET_FIXTURE_H
#define BSP_TESTS_TI_SOCKET_TI_SOCKET_FIXTURE_H

#include <bsp_ctrl/ti_socket_drv.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {

using Bytes = std::vector<uint8_t>;

// A TCP client on 127.0.0.1.
class Client {
  public:
    Client() = default;
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Creates the socket (without connecting), then connects.
    bool create();
    bool connect(int port);
    bool send(const Bytes &bytes);
    // Reads `count` bytes, or fewer when `deadline` passes or the server closes.
    Bytes read(size_t count, std::chrono::milliseconds deadline);
    // True when the server has closed its side (a read sees the end) within `deadline`.
    bool sees_end(std::chrono::milliseconds deadline);
    void shutdown_write();
    void close();
    // Closes with a reset instead of an orderly end.
    void abort();
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

// The 600-byte frame a client sends for `msg`.
Bytes client_frame(const Bytes &msg);

int record_buffer(void *msg);
std::vector<Bytes> received_buffers();
bool wait_for_buffers(size_t count);

class TiSocketTest : public SimTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // ti_socket_init and ti_socket_open on a free port, expected to succeed.
    void open_socket();
    // Connects `client` and waits until the socket serves it (a write reaches it).
    void connect_served(Client *client);
    // open_socket, then connect_served(&client_).
    void open_served() {
        open_socket();
        connect_served(&client_);
    }

    Client client_;

    int port_ = 0;
};

}  // namespace bsp::test

#endif
