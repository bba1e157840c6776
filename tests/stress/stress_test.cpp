// Every family driven at once from several threads while every far end talks back, for a
// bounded time (STRESS_SECONDS, 3 s by default); run under ThreadSanitizer a data race fails
// the test. Families are also stopped and started again while workers still call them. In
// the end nothing may be left behind (descriptors, device files, tasks, taken semaphores,
// timers); every object, page and sector holds what its owner wrote last, and every frame
// on the serial line and the TCP connection, either way, is whole.
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_ctrl/e2prom.h>
#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_ctrl/flash_api.h>
#include <bsp_ctrl/i2cdev.h>

#include <gtest/gtest-spi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <iostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "framer/framer_fixture.h"
#include "pcidev/pci_fixture.h"
#include "support/capture.h"
#include "ti_socket/ti_socket_fixture.h"

namespace bsp::test {
namespace {

// Traffic the DPDP callback and the far ends saw, each of which must have some after a run
// (the link families record theirs with their fixtures' callbacks).
enum Seen { kDpdpRx, kSerialBytes, kTcpBytes, kSeenKinds };
std::atomic<uint64_t> g_seen[kSeenKinds];
// Set while families are stopped and started under load: a restart may cut a frame in flight.
std::atomic<bool> g_restarting{false};

constexpr size_t kRegionSize = 64 * 1024;
constexpr int kWorkers = 4;
constexpr int kFamilies = 12;
constexpr UINT16 kE2promBase = 0x3000;  // each worker owns one 64-byte page from here
constexpr size_t kPage = 64;
constexpr size_t kFlashBytes = 256;
const int kStoppable[] = {0, 1, 3, 5, 6, 7, 8};  // the families of hammer() that have a stop

// How long the workers run: STRESS_SECONDS from the environment, 3 by default.
std::chrono::milliseconds stress_duration() {
    const char *s = std::getenv("STRESS_SECONDS");
    long seconds = s != nullptr ? std::strtol(s, nullptr, 10) : 0;
    return std::chrono::milliseconds(seconds > 0 ? seconds * 1000 : 3000);
}

// Keeps the receive tasks' announcement of every buffer they allocate off standard output
// for its life, and passes everything else written there (test failures) on to standard error
// at the end.
struct QuietStdout {
    ~QuietStdout() {
        std::cerr << std::regex_replace(out.text(), std::regex("Allocated ti_req[^\n]*\n"), "");
    }
    StdoutCapture out;
};

void on_dpdp(void *, UINT32 size) {
    EXPECT_GT(size, 0u);
    ++g_seen[kDpdpRx];
}

// The message the serial and TCP peers send as frame `n`.
Bytes peer_message(uint32_t n) {
    return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0x11};
}

// Takes the whole frames off the front of what a far end read from the line: each must have
// the start marker, a length of 12 to 600 and the stop marker at its end, or the frames of two
// senders were mixed (unless a restart cut it).
void take_whole_frames(Bytes &line, const char *where) {
    if (g_restarting) {
        line.clear();
    }
    while (line.size() >= 8) {
        const size_t len = std::clamp<size_t>(size_t{line[6]} << 8 | line[7], 12, 600);
        if (line.size() < len) {
            return;
        }
        Bytes frame(line.begin(), line.begin() + static_cast<ptrdiff_t>(len));
        bool whole = frame == frame_of(Bytes(frame.begin() + 8, frame.end() - 4));
        EXPECT_TRUE(whole) << where << " not a whole frame: " << hex(frame.data(), 16);
        line.erase(line.begin(), whole ? line.begin() + static_cast<ptrdiff_t>(len) : line.end());
    }
}

// The TCP client: connects to the socket's current port, sends frames and reads what the
// library writes; now and then hangs up and comes back, as a real client does.
void tcp_client(const std::atomic<int> &port, const std::stop_token &stop) {
    for (uint32_t session = 0; !stop.stop_requested(); ++session) {
        Client client;
        bool up = client.connect(port.load());
        Bytes line;
        for (uint32_t n = 0; up && n < 200 && !stop.stop_requested(); ++n) {
            bool end = false;
            up = client.send(client_frame(peer_message(n + session)));
            Bytes got = client.read(4096, 1ms, &end);
            up = up && !end;
            g_seen[kTcpBytes] += got.size();
            line.insert(line.end(), got.begin(), got.end());
            take_whole_frames(line, "tcp");
        }
        std::this_thread::sleep_for(2ms);  // pacing the next session
    }
}

// The far ends but the TCP client: the serial peer, the PCI far side and the HDLC far end send,
// and the serial peer reads; the cable, other ports' links and the radio's shifts come and go;
// time passes for every family's timers.
void far_ends(const std::stop_token &stop) {
    Bytes line;
    for (uint32_t n = 0; !stop.stop_requested(); ++n) {
        if (sim::pci_rx_pending() < 4) {
            sim::pci_inject(Bytes(1 + n % 64, static_cast<uint8_t>(n)), 1 + n % 2);
        }
        sim::hdlc_receive({0x21, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
        sim::set_link_connected(n % 2 == 0);
        sim::raise_port_link_event(static_cast<int>(1 + n % 3), n % 3 != 0, n % 2 ? 1000 : 100);
        sim::radio_notify_shift(static_cast<int>(n % 9), -static_cast<int>(n % 5),
                                static_cast<int>(n & 1));
        sim::advance_clock_ms(sim::kTickMs);
        sim::serial_peer_write(frame_of(peer_message(n)));
        Bytes got = sim::serial_peer_read(4096, 1ms);  // also the pacing
        g_seen[kSerialBytes] += got.size();
        line.insert(line.end(), got.begin(), got.end());
        take_whole_frames(line, "serial");
    }
}

Bytes own_bytes(int worker, uint32_t seq, size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<uint8_t>(worker * 31 + seq * 7 + i);
    }
    return out;
}

// The self-describing record a worker writes to the shared object: 1 + worker and the low
// byte of seq, then bytes derived from them (which is all that the bytes and length depend on).
Bytes shared_record(int worker, uint32_t seq) {
    Bytes out = own_bytes(worker, seq, 8 + seq % 128);
    out[0] = static_cast<uint8_t>(1 + worker);
    out[1] = static_cast<uint8_t>(seq);
    return out;
}

// A record read back is one worker's whole record, never a mix of two.
bool consistent_record(const Bytes &bytes) {
    Bytes expect = shared_record(bytes[0] - 1, bytes[1]);
    return bytes[0] != 0 && std::equal(expect.begin(), expect.end(), bytes.begin());
}

UINT32 open_obj(std::string name, std::string mode) {
    UINT32 id = 0;
    return DbObjOpen(0, &id, name.data(), mode.data()) == 0 ? id : 0;
}

std::atomic<uint64_t> g_calls{0};

// Workers making `call(worker, seq)` in turn until their threads are destroyed.
std::vector<std::jthread> workers(const std::function<void(int, uint32_t)> &call) {
    std::vector<std::jthread> threads;
    for (int w = 0; w < kWorkers; ++w) {
        threads.emplace_back([w, call](const std::stop_token &stop) {
            for (uint32_t seq = 0; !stop.stop_requested(); ++seq, ++g_calls) {
                call(w, seq);
            }
        });
    }
    return threads;
}

// Waits until the workers have made `n` more calls.
bool more_calls(uint64_t n) {
    const uint64_t from = g_calls.load();
    return wait_until([from, n] { return g_calls.load() >= from + n; });
}

// One valid call of family `family` by worker `worker`, checked.
void hammer(int worker, int family, uint32_t seq) {
    const std::string own = "own" + std::to_string(worker);
    Bytes bytes = own_bytes(worker, seq, kFlashBytes);
    Bytes back(bytes.size());
    Bytes msg(1536, static_cast<uint8_t>(seq));
    int v = 0;
    switch (family) {
        case 0: {  // the worker's own object: written whole, read back whole
            const auto size = static_cast<UINT32>(1 + seq % 200);
            UINT32 id = open_obj(own, "w");
            ASSERT_NE(id, 0u);
            ASSERT_EQ(DbObjWrite(id, bytes.data(), size), 0u);
            ASSERT_EQ(DbObjClose(id), 0u);
            ASSERT_NE(id = open_obj(own, "r"), 0u);
            EXPECT_EQ(DbObjRead(id, back.data(), size), 0u);
            EXPECT_EQ(DbObjClose(id), 0u);
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + size, back.begin()));
            break;
        }
        case 1: {  // the shared object: whole records replace each other
            UINT32 id = open_obj("shared", seq % 2 ? "w+" : "r+");
            id = id != 0 ? id : open_obj("shared", "w+");  // "r+" of an object nobody created
            ASSERT_NE(id, 0u);
            EXPECT_EQ(DbObjRead(id, back.data(), static_cast<UINT32>(back.size())), 0u);
            EXPECT_TRUE(seq % 2 != 0 || back[0] == 0 || consistent_record(back));
            Bytes rec = shared_record(worker, seq);
            EXPECT_EQ(DbObjWrite(id, rec.data(), static_cast<UINT32>(rec.size())), 0u);
            EXPECT_EQ(DbObjClose(id), 0u);
            break;
        }
        case 2: {  // the worker's own EEPROM page holds what it wrote
            const auto page = static_cast<UINT16>(kE2promBase + worker * kPage);
            ASSERT_EQ(e2prom_write(page, bytes.data(), kPage), static_cast<INT>(kPage));
            ASSERT_EQ(e2prom_read(page, back.data(), kPage), static_cast<INT>(kPage));
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + kPage, back.begin()));
            break;
        }
        case 3: {  // the worker's own flash sector holds what it wrote
            const auto sector = static_cast<UINT32>(1 + worker);
            UINT32 base = 0;
            UINT32 sector_size = 0;
            ASSERT_EQ(FlashGetSectorInfo(sector, &base, &sector_size), 0u);
            ASSERT_EQ(FlashEraseSector(sector), 0u);
            ASSERT_EQ(FlashWrite(bytes.data(), base, kFlashBytes), 0u);
            ASSERT_EQ(FlashRead(base, back.data(), kFlashBytes), 0u);
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + kFlashBytes, back.begin()));
            break;
        }
        case 4: {
            UINT16 reg = 0;
            EXPECT_EQ(i2c_read_buf(1, 0x50, 0, 1, back.data(), 16, 0), 16);
            EXPECT_EQ(i2c_read_sfp_phy(0, static_cast<UINT8>(seq % 4), &reg), 0);
            break;
        }
        case 5:
            EXPECT_EQ(pci_send(msg.data(), 1 + seq % 1536, 1), 0);
            break;
        case 6:
            EXPECT_EQ(FramerWrite(msg.data(), 1 + seq % 588), 0u);
            break;
        case 7:
            v = ti_socket_write(reinterpret_cast<char *>(msg.data()), 1 + seq % 588);
            EXPECT_TRUE(v == 0 || v == -1);  // -1 while the client is away
            break;
        case 8:
            v = static_cast<int>(DpdpSend(msg.data(), 1 + seq % 8));
            EXPECT_TRUE(v == 0 || v == 1);  // 1 while another sender holds the channel
            break;
        case 9:  // a port's setting written, its link read (the far end changes it), the map
            EXPECT_EQ(ehsl_port_llf_set(3, static_cast<int>(seq % 2)), 0);
            EXPECT_EQ(ehsl_port_link_status_get(3, &v), 0);
            EXPECT_EQ(ehsl_pmap_hw_to_eps(3, &v), 0);
            break;
        case 10: {  // settings written, and all of them printed
            std::vector<char> res(1 + seq % 900, '\x7f');
            EXPECT_EQ(ecps_alarmPeriod_set(1, 1 + seq % 50), 0);
            EXPECT_EQ(ecps_delayComp_set(1, static_cast<int>(seq % 1000)), 0);
            EXPECT_EQ(ecps_debug_print(static_cast<int>(res.size()), res.data()), 0);
            EXPECT_NE(std::memchr(res.data(), 0, res.size()), nullptr);
            break;
        }
        default: {
            static const char *const kArgs[] = {"-v", "-r", "-h", "-q", ""};
            std::string cmd = "seis";
            std::string arg = kArgs[seq % 5];
            char *argv[] = {cmd.data(), arg.data()};
            std::vector<char> res(1 + seq % 700, '\x7f');
            EXPECT_EQ(seis_cmd(arg.empty() ? 1 : 2, argv, static_cast<int>(res.size()), res.data()),
                      0);
            EXPECT_NE(std::memchr(res.data(), 0, res.size()), nullptr);
            break;
        }
    }
}

class StressTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        region_ = static_cast<UINT8 *>(sim::map_low_region(kRegionSize));
        ASSERT_NE(region_, nullptr);
    }
    void TearDown() override {
        peers_.clear();
        if (up_) {
            shut_down();
        }
        sim::join_tasks(10s);
        sim::unmap_region(region_, kRegionSize);
    }

    // The families that have a stop, in the start order; with `at_boot` first the steps done
    // once per boot (EEPROM probe, PCI node attached, DPDP reconfiguration registered) and
    // the families that are only started.
    void start(bool at_boot) {
        up_ = true;
        if (at_boot) {
            ASSERT_EQ(e2prom_i2c_addr_find(), 0);
            init_pci();
            enable_pci();
            ASSERT_EQ(DpdpInit(), 0);
            ehsl_port_init();
            ehsl_pmap_init();
            ASSERT_EQ(ecps_init(), 0);
            ASSERT_EQ(init_seis(), 0);
        }
        ASSERT_EQ(
            DbCreate(0, static_cast<UINT32>(reinterpret_cast<uintptr_t>(region_)), kRegionSize),
            0u);
        ASSERT_EQ(FlashCreate(), 0u);
        ASSERT_EQ(pci_install_rx_callback(PciTest::record), 0);
        ASSERT_EQ(pci_open(0x5157E55), 0);
        ASSERT_EQ(FramerCreate(0), 0u);
        ASSERT_EQ(FramerOpen(record_message, 115200), 0u);
        tcp_port_ = sim::free_loopback_port();
        ASSERT_EQ(ti_socket_init(tcp_port_), 0);
        ASSERT_EQ(ti_socket_open(record_buffer), 0);
        ASSERT_EQ(DpdpOpen(on_dpdp), 0u);
    }
    // Every family in its stop order; with `racing`, while workers still call them, so that
    // the results depend on the race.
    void shut_down(bool racing = false) {
        up_ = false;
        DpdpSetCallback(nullptr);
        EXPECT_TRUE(DpdpClose() == 0 || racing);
        // A new init retires the socket: the one way to stop it.
        EXPECT_TRUE(ti_socket_init(0) == 0 || racing);
        FramerClose();
        EXPECT_TRUE(FramerDelete() == 0 || racing);
        EXPECT_TRUE(pci_close() == 0 || racing);
        pci_install_rx_callback(nullptr);
        EXPECT_TRUE(FlashDelete() == 0 || racing);
        // Refused while a worker holds an object; it comes through between two of its calls.
        EXPECT_TRUE(racing ? wait_until([] { return DbDelete(0) == 0; }) : DbDelete(0) == 0);
    }
    void start_peers() {
        peers_.emplace_back(far_ends);
        peers_.emplace_back([this](const std::stop_token &stop) { tcp_client(tcp_port_, stop); });
    }
    // Stops the peers, then expects the far ends idle, every task ended and no semaphore held.
    void stop_peers_and_expect_all_ended() {
        peers_.clear();
        EXPECT_TRUE(sim::pci_wait_idle());
        EXPECT_TRUE(sim::join_tasks(10s));
        EXPECT_EQ(sim::running_tasks(), 0u);
        EXPECT_TRUE(sim::held_semaphores().empty());
    }
    UINT8 *region_ = nullptr;
    std::atomic<int> tcp_port_{0};  // changes with every start of the socket
    std::vector<std::jthread> peers_;
    bool up_ = false;
};

// Every family called by every worker while every far end talks back; then every family that
// has a stop stopped and started again while workers still call it: the calls that race with a
// stop or a start may fail, but none may crash, hang or race, a new start serves, and after
// each stop nothing is left behind, after the restart no more than after the first stop.
TEST_F(StressTest, EveryFamilyAtOnceThenStoppedAndStartedUnderLoadLeavesNothingBehind) {
    QuietStdout quiet;
    const size_t descriptors = open_descriptor_count();
    const size_t files = sim::open_device_files();  // the PCI node of an earlier test
    ASSERT_LE(files, 1u);
    ASSERT_NO_FATAL_FAILURE(start(true));
    start_peers();
    {
        auto load = workers([](int w, uint32_t seq) {
            hammer(w, static_cast<int>((seq + static_cast<uint32_t>(w) * 3) % kFamilies), seq);
        });
        std::this_thread::sleep_for(stress_duration() / 2);  // the load's length, not a wait
    }
    shut_down();
    stop_peers_and_expect_all_ended();
    // The PCI node stays open for the life of the process: the family has no stop for it.
    EXPECT_EQ(sim::open_device_files(), 1u);
    // That node and the unopened socket of the init that retired the served one.
    EXPECT_EQ(open_descriptor_count(), descriptors + 2 - files);
    for (int k = 0; k < kSeenKinds; ++k) {
        EXPECT_GT(g_seen[k].load(), 0u) << "traffic of kind " << k;
    }
    EXPECT_GT(PciTest::received().size(), 0u);
    for (const sim::SemaphoreInfo &s : sim::semaphores()) {
        EXPECT_EQ(s.name, "ti_sock") << "semaphore left";  // the unopened socket's (free) one
    }
    g_restarting = true;
    const size_t semaphores = sim::semaphores().size();
    const size_t timers = sim::enabled_timers();
    ASSERT_NO_FATAL_FAILURE(start(false));
    start_peers();
    // The calls of the families that have a stop, whose results now depend on the race.
    auto load = workers([](int w, uint32_t seq) {
        ::testing::TestPartResultArray any_result;
        ::testing::ScopedFakeTestPartResultReporter accepted(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
            &any_result);
        hammer(w, kStoppable[seq % std::size(kStoppable)], seq);
    });
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(stress_duration() / 6);  // load, not a wait
        shut_down(true);
        ASSERT_TRUE(more_calls(500));
        ASSERT_NO_FATAL_FAILURE(start(false)) << "round " << round;
    }
    // A new start serves: the serial peer's and the client's next frames come in.
    const size_t framer_rx = received().all().size();
    const size_t socket_rx = received_buffers().size();
    EXPECT_TRUE(wait_for_messages(framer_rx + 1));
    EXPECT_TRUE(wait_for_buffers(socket_rx + 1));
    shut_down(true);
    EXPECT_TRUE(more_calls(2000));
    load.clear();
    stop_peers_and_expect_all_ended();
    EXPECT_EQ(sim::open_device_files(), 1u);
    EXPECT_EQ(open_descriptor_count(), descriptors + 2 - files);
    EXPECT_EQ(sim::semaphores().size(), semaphores);
    EXPECT_EQ(sim::enabled_timers(), timers);
    // Every buffer is one whole message of the serial peer's or the client's, however the
    // framer's time-out or a restart cut others.
    for (const Bytes &msg : received().all()) {
        EXPECT_EQ(msg, padded(peer_message(msg[0] | msg[1] << 8)));
    }
    for (const Bytes &msg : received_buffers()) {
        EXPECT_EQ(msg[2], 0x11);
    }
}

}  // namespace
}  // namespace bsp::test
