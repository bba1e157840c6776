// Fault matrix of the serial framer and the TCP socket framer: each created and opened,
// then handed back (the framer's port to the console, the socket retired by a new init).
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/ti_socket_drv.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bsp_sim/sim.h>

#include "matrix.h"

namespace bsp::test {
namespace {

void ignore_frame(UINT8 *) {}
int ignore_buffer(void *) {
    return 0;
}

class FramerCreateOpen : public Operation {
  public:
    long run() override {
        if (UINT32 r = FramerCreate(0); r != 0) {
            return r;
        }
        return FramerOpen(ignore_frame, 115200);
    }
    void undo() override {
        FramerClose();
        FramerDelete();
        EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
    }
};

class TiSocketInitOpen : public Operation {
  public:
    long fail_code() const override { return -1; }
    long run() override {
        if (int r = ti_socket_init(port_); r != 0) {
            return r;
        }
        return ti_socket_open(ignore_buffer);
    }
    void undo() override { ti_socket_init(0); }

  private:
    int port_ = sim::free_loopback_port();
};

class SerialFaults : public FaultMatrix {};

BSP_FAULT_CASE(SerialFaults, FramerCreateOpen, FramerCreateOpen, "framer");
BSP_FAULT_CASE(SerialFaults, TiSocketInitOpen, TiSocketInitOpen, "ti_socket");
BSP_FAULT_MATRIX(SerialFaults);

}  // namespace
}  // namespace bsp::test
