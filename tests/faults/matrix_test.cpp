// The fault-injection matrix: for each family's representative operation, the n-th call of
// each OS service, device operation or heap allocation it makes is made to fail in turn, and
// the operation must report its failure code, leave no descriptor open, no semaphore held, no
// task or timer running beyond what it had, and succeed when run again.
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_ctrl/e2prom.h>
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/i2cdev.h>
#include <bsp_ctrl/pcidev.h>
#include <bsp_ctrl/ti_socket_drv.h>
#include <semaphore.h>

#include <bsp_sim/sim.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using sim::FaultOp;

// A family's representative operation, built afresh on a fresh unit for every run.
struct Operation {
    // Runs the operation; its result code (the first failing step's, else 0).
    std::function<long()> run;
    // The library's documented clean-up after the operation, whether it failed or not.
    std::function<void()> undo = [] {};
    // Whether a result is one of the family's failure codes.
    std::function<bool(long)> is_failure = [](long r) { return r == 1; };
    // Calls whose failure the library documents it ignores: the operation must then succeed.
    std::vector<FaultOp> ignored = {};
    // Simulated descriptors the family documents it keeps open after the clean-up.
    size_t kept_files = 0;
    // OS semaphores it documents it keeps after the clean-up.
    size_t kept_semaphores = 0;
    // Families that guard their devices with a POSIX semaphore: it must be free again.
    sem_t *device_lock = nullptr;
};

const auto kMinusOne = [](long r) { return r == -1; };

// The operations by family; those of the port map and the SFP's chip need their models first.
Operation operation(const std::string &family) {
    if (family == "Db") {  // created, an object opened, written and closed in it; the clean-up
                           // closes the object and deletes the database, whatever is left
        std::shared_ptr<void> region(sim::map_low_region(64 * 1024),
                                     [](void *p) { sim::unmap_region(p, 64 * 1024); });
        auto id = std::make_shared<UINT32>(0);
        return {.run = [region, id]() -> long {
                    char name[] = "fault", mode[] = "w";
                    UINT32 r =
                        DbCreate(0, static_cast<UINT32>(reinterpret_cast<uintptr_t>(region.get())),
                                 64 * 1024);
                    r = r != 0 ? r : DbObjOpen(0, id.get(), name, mode);
                    r = r != 0 ? r : DbObjWrite(*id, name, sizeof name);
                    return r != 0 ? r : DbObjClose(*id);
                },
                .undo =
                    [id] {
                        DbObjClose(*id);
                        DbDelete(0);
                    }};
    }
    if (family == "PortSpeed") {  // the port layer started, the SFP cage's speed read and set
        return {.run =
                    [] {
                        ehsl_port_init();
                        int speed = 0;
                        int r = ehsl_port_speed_get(3, &speed);
                        return static_cast<long>(r != 0 ? r : ehsl_port_speed_set(3, 1000));
                    },
                .is_failure = [](long r) { return r != 0; }};
    }
    if (family == "Seis") {
        ehsl_pmap_init();
        return {.run = [] { return static_cast<long>(init_seis()); }};
    }
    if (family == "Pci") {  // initialised, opened and used for one message
        // The interrupt-type, enable and mask requests and the close of a replaced descriptor
        // are made by functions without a result: their failures cannot be reported.
        // "/dev/pci" stays open for the life of the process (a new init_pci replaces it).
        return {.run =
                    [] {
                        init_pci();
                        enable_pci();
                        pci_install_rx_callback([](UINT8 *, UINT32, UINT32) { return 0; });
                        std::array<UINT8, 16> msg{1, 2, 3, 4};
                        int r = pci_open(0x12345678);
                        return static_cast<long>(r != 0 ? r : pci_send(msg.data(), msg.size(), 1));
                    },
                .undo =
                    [] {
                        pci_close();
                        pci_install_rx_callback(nullptr);
                        // Settles the interrupt thread. When the close's unmask was the failed
                        // call, the line stays masked, with the far side's acknowledgement
                        // still pending if it had not been delivered yet: not waited for.
                        sim::pci_wait_idle();
                    },
                .is_failure = kMinusOne,
                .ignored = {FaultOp::Ioctl, FaultOp::Close},
                .kept_files = 1};
    }
    if (family == "Dpdp") {  // initialised, opened and used for one packet
        return {
            .run =
                [] {
                    std::array<UINT8, 8> packet{0x11, 2, 3, 4};
                    if (INT r = DpdpInit(); r != 0) {
                        return static_cast<long>(r);
                    }
                    UINT32 r = DpdpOpen([](void *, UINT32) {});
                    return static_cast<long>(r != 0 ? r : DpdpSend(packet.data(), packet.size()));
                },
            .undo = [] { DpdpClose(); }};
    }
    if (family == "Framer") {  // created and opened, then its port handed back to the console
        return {.run =
                    [] {
                        UINT32 r = FramerCreate(0);
                        return static_cast<long>(r != 0 ? r : FramerOpen([](UINT8 *) {}, 115200));
                    },
                .undo =
                    [] {
                        FramerClose();
                        FramerDelete();
                        EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
                    }};
    }
    if (family == "TiSocket") {  // initialised and opened, then retired by a new init, which
                                 // keeps the module's semaphore
        return {
            .run =
                [port = sim::free_loopback_port()] {
                    int r = ti_socket_init(port);
                    return static_cast<long>(r != 0 ? r : ti_socket_open([](void *) { return 0; }));
                },
            .undo = [] { ti_socket_init(0); },
            .is_failure = kMinusOne,
            .kept_semaphores = 1};
    }
    // Item 7 of area 1 of a formatted EEPROM written (same size). A failed close is reported
    // on standard output; the transfer before it stands.
    EXPECT_EQ(e2prom_init(), 0);
    EXPECT_EQ(e2prom_area_init(1, 1000), 0);
    return {.run =
                [] {
                    std::array<UINT8, 5> data = {1, 2, 3, 4, 5};
                    return static_cast<long>(e2prom_data_write(1, 7, data.size(), data.data()));
                },
            .is_failure = [](long r) { return r < 0; },
            .ignored = {FaultOp::Close},
            .device_lock = &e2prom};
}

// The 1588 start, the flash and the I2C devices are not walked here: their folders inject
// every fault of their calls and check the same reactions.
const char *const kFamilies[] = {"Db",   "PortSpeed", "Seis",     "Pci",
                                 "Dpdp", "Framer",    "TiSocket", "E2prom"};

const char *const kOpNames[] = {"SemCreate",  "SemObtain",   "SemRelease", "SemDelete",
                                "TaskCreate", "TimerCreate", "PoolCreate", "PoolAllocate",
                                "DriverInit", "Open",        "Ioctl",      "Read",
                                "Write",      "Lseek",       "Close",      "HeapAllocate"};

// Every fault that the matrix walks. Semaphore release and deletion are not: the OS fails
// them only for a block that is no semaphore, and a failed release leaves the semaphore
// taken by definition, which no caller can mend.
const FaultOp kOps[] = {FaultOp::SemCreate,   FaultOp::SemObtain,   FaultOp::TaskCreate,
                        FaultOp::TimerCreate, FaultOp::PoolCreate,  FaultOp::PoolAllocate,
                        FaultOp::DriverInit,  FaultOp::Open,        FaultOp::Ioctl,
                        FaultOp::Read,        FaultOp::Write,       FaultOp::Lseek,
                        FaultOp::Close,       FaultOp::HeapAllocate};

// What the unit holds before the operation runs.
struct Residue {
    size_t files;
    size_t tasks;
    size_t timers;
    size_t semaphores;
};

Residue residue() {
    return {sim::open_device_files(), sim::running_tasks(), sim::enabled_timers(),
            sim::semaphores().size()};
}

// The operation left nothing behind beyond `before`: descriptors, semaphores (held or not),
// tasks, timers.
void expect_clean(const Operation &o, const Residue &before) {
    int free = 1;
    EXPECT_TRUE(sim::held_semaphores().empty()) << sim::held_semaphores().front().name;
    EXPECT_TRUE(o.device_lock == nullptr || (sem_getvalue(o.device_lock, &free) == 0 && free == 1));
    EXPECT_TRUE(wait_until([&] { return sim::running_tasks() <= before.tasks; }))
        << sim::running_tasks() << " tasks running";
    EXPECT_LE(sim::open_device_files(), before.files + o.kept_files);
    EXPECT_EQ(sim::enabled_timers(), before.timers);
    EXPECT_LE(sim::semaphores().size(), before.semaphores + o.kept_semaphores);
}

// Makes the nth call of `op` fail, then runs the operation again without a fault. False when
// the operation makes no nth call: its run must then have succeeded.
bool walk_one(const std::string &family, FaultOp op, unsigned n) {
    SCOPED_TRACE("call " + std::to_string(n));
    sim::reset_unit();
    Operation o = operation(family);
    Residue before = residue();
    const unsigned calls = sim::fault_op_calls(op);
    sim::inject_fault({op, n, EIO, -1, ""});
    long result = o.run();
    const bool reached = sim::fault_op_calls(op) - calls >= n;
    if (!reached || std::find(o.ignored.begin(), o.ignored.end(), op) != o.ignored.end()) {
        EXPECT_EQ(result, 0) << (reached ? "a failure the library ignores" : "no fault");
    } else {
        EXPECT_TRUE(o.is_failure(result)) << "result " << result;
    }
    o.undo();
    expect_clean(o, before);
    sim::clear_faults();
    EXPECT_EQ(o.run(), 0) << "the next call fails";
    o.undo();
    expect_clean(o, before);
    EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
    return reached;
}

// A cell of the matrix: indices into kFamilies and kOps.
class FaultMatrix : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

// Walks every call of the fault's kind that the family's operation makes.
TEST_P(FaultMatrix, FailsCleanlyAndRecovers) {
    const char *family = kFamilies[std::get<0>(GetParam())];
    const FaultOp op = kOps[std::get<1>(GetParam())];
    unsigned n = 1;
    while (!HasFatalFailure() && walk_one(family, op, n)) {
        ++n;
    }
    sim::reset_unit();
    if (n == 1) {
        GTEST_SKIP() << "the operation makes no such call";
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, FaultMatrix,
                         ::testing::Combine(::testing::Range(size_t{0}, std::size(kFamilies)),
                                            ::testing::Range(size_t{0}, std::size(kOps))),
                         [](const ::testing::TestParamInfo<FaultMatrix::ParamType> &p) {
                             return std::string(kFamilies[std::get<0>(p.param)]) + "_" +
                                    kOpNames[static_cast<int>(kOps[std::get<1>(p.param)])];
                         });

// Heap faults reach only the allocations the library makes itself: i2c_write_buf allocates
// its transfer buffer once per call, before touching the bus, and fails with ENOMEM.
TEST_F(SimTest, HeapFaultsReachOnlyLibraryAllocationsAndFailWithEnomem) {
    sim::add_i2c_chip(1, 0x20, std::make_shared<sim::RegisterChip>(256, 1));
    sim::inject_fault({FaultOp::HeapAllocate, 0});  // every call
    void *m = std::malloc(32);
    void *c = std::calloc(4, 8);
    void *r = std::realloc(m, 64);
    EXPECT_TRUE(c != nullptr && r != nullptr);
    std::free(c);
    std::free(r);
    UINT8 data[2] = {1, 2};
    errno = 0;
    EXPECT_EQ(i2c_write_buf(1, 0x20, 0, 1, data, 2, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(sim::fault_op_calls(FaultOp::HeapAllocate), 1u);
    EXPECT_EQ(sim::fault_op_calls(FaultOp::Open), 0u);  // the failed call reached no device
}

}  // namespace
}  // namespace bsp::test
