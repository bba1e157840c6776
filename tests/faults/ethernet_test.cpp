// Fault matrix of the Ethernet families: a port started and its speed read and set, the
// 1588 control started, the SEIS links detected.
#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_ctrl/ehsl_seis.h>

#include <bsp_sim/sim.h>

#include "matrix.h"

namespace bsp::test {
namespace {

class PortSpeed : public Operation {
  public:
    static constexpr int kPort = 3;  // the SFP cage
    long fail_code() const override { return -1; }
    long run() override {
        ehsl_port_init();
        int speed = 0;
        if (int r = ehsl_port_speed_get(kPort, &speed); r != 0) {
            return r;
        }
        return ehsl_port_speed_set(kPort, 1000);
    }
    bool is_failure(long result) const override { return result != 0; }
};

class EcpsInit : public Operation {
  public:
    long run() override { return ecps_init(); }
    // A polling timer that cannot be made is logged ("Error in creating timer"); the start
    // itself reports 0.
    bool ignored(sim::FaultOp op, unsigned) const override {
        return op == sim::FaultOp::TimerCreate;
    }
};

class SeisInit : public Operation {
  public:
    void prepare() override { ehsl_pmap_init(); }
    long run() override { return init_seis(); }
};

class EthernetFaults : public FaultMatrix {};

BSP_FAULT_CASE(EthernetFaults, PortSpeed, PortSpeed, "ehsl_port");
BSP_FAULT_CASE(EthernetFaults, EcpsInit, EcpsInit, "ecps");
BSP_FAULT_CASE(EthernetFaults, SeisInit, SeisInit, "seis");
BSP_FAULT_MATRIX(EthernetFaults);

}  // namespace
}  // namespace bsp::test
