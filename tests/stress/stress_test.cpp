// Every family driven at once from several threads while every far end talks back, for a
// bounded time (STRESS_SECONDS, 3 s by default); run under ThreadSanitizer a data race fails
// the test. Families are also stopped and started again while workers still call them. In
// the end nothing may be left behind (descriptors, device files, tasks, taken semaphores,
// timers); every object, page and sector holds what its owner wrote last, and every frame
// on the serial line and the TCP connection, either way, is whole.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/dpdp_api.h>
#include <bsp_ctrl/e2prom.h>
#include <bsp_ctrl/ecps_ctrl.h>
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_ctrl/ehsl_seis.h>
#include <bsp_ctrl/flash_api.h>
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/i2cdev.h>
#include <bsp_ctrl/pcidev.h>
#include <bsp_ctrl/ti_socket_drv.h>

#include <bsp_sim/sim.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/bytes.h"
#include "support/capture.h"
#include "support/sim_fixture.h"

namespace bsp::test {
namespace {

using namespace std::chrono_literals;

// Traffic the callbacks and the far ends saw, each of which must have some after a run.
enum Seen { kPciRx, kFramerRx, kSocketRx, kDpdpRx, kSerialBytes, kTcpBytes, kSeenKinds };
std::atomic<uint64_t> g_seen[kSeenKinds];
// Set while families are stopped and started under load: a restart may cut a frame in flight.
std::atomic<bool> g_restarting{false};

constexpr size_t kRegionSize = 64 * 1024;
constexpr int kWorkers = 4;
constexpr int kFamilies = 12;
constexpr UINT16 kE2promBase = 0x3000;  // each worker owns one 64-byte page from here
constexpr size_t kPage = 64;
constexpr size_t kFlashBytes = 256;
constexpr int kSharedObjects = 3;

// How long the workers run: STRESS_SECONDS from the environment, 3 by default.
std::chrono::milliseconds stress_duration() {
    const char *s = std::getenv("STRESS_SECONDS");
    long seconds = s != nullptr ? std::strtol(s, nullptr, 10) : 0;
    return std::chrono::milliseconds(seconds > 0 ? seconds * 1000 : 3000);
}

// Keeps the receive tasks' announcement of every buffer they allocate off standard output
// for its life, and passes everything else written there (test failures) on at the end.
class QuietStdout {
  public:
    ~QuietStdout() {
        std::string text = capture_->text();
        capture_.reset();
        for (size_t at = 0, end; at < text.size(); at = end) {
            end = std::min(text.find('\n', at), text.size() - 1) + 1;
            if (text.compare(at, 16, "Allocated ti_req") != 0) {
                std::fwrite(text.data() + at, 1, end - at, stdout);
            }
        }
        std::fflush(stdout);
    }

  private:
    std::unique_ptr<StdoutCapture> capture_ = std::make_unique<StdoutCapture>();
};

int on_pci(UINT8 *, UINT32 len, UINT32) {
    EXPECT_GT(len, 0u);
    ++g_seen[kPciRx];
    return 0;
}

// Every buffer is one whole message of the serial peer's, however the time-out cut others.
void on_framer(UINT8 *msg) {
    EXPECT_TRUE(msg[2] == 0x11 &&
                std::all_of(msg + 3, msg + 588, [](uint8_t b) { return b == 0; }));
    ++g_seen[kFramerRx];
    std::free(msg);
}

int on_socket(void *msg) {
    EXPECT_EQ(static_cast<uint8_t *>(msg)[2], 0x11);  // the client's whole frame
    ++g_seen[kSocketRx];
    std::free(msg);
    return 0;
}

void on_dpdp(void *, UINT32 size) {
    EXPECT_GT(size, 0u);
    ++g_seen[kDpdpRx];
}

// A frame of `size` bytes with the framers' start and stop words and the length in its head.
Bytes frame(uint32_t n, uint16_t size) {
    Bytes f = unhex("5a a5 c3 3c 00 00");
    for (uint32_t b :
         {uint32_t{size} >> 8, uint32_t{size} & 0xFFu, n & 0xFFu, n >> 8 & 0xFFu, 0x11u}) {
        f.push_back(static_cast<uint8_t>(b));
    }
    f.resize(size - 4, 0);
    f.insert(f.end(), {0xA5, 0x5A, 0x3C, 0xC3});
    return f;
}

// Takes the whole frames off the front of what a far end read from the line: each must have
// the start marker, a length of 12 to 600 and the stop marker at its end, or the frames of two
// senders were mixed (unless a restart cut it).
void take_whole_frames(Bytes &line, const char *where) {
    if (g_restarting) {
        line.clear();
    }
    while (line.size() >= 8) {
        const size_t len = size_t{line[6]} << 8 | line[7];
        bool whole = Bytes(line.begin(), line.begin() + 6) == unhex("5a a5 c3 3c 00 00") &&
                     len >= 12 && len <= 600;
        if (whole && line.size() < len) {
            return;
        }
        if (!whole || Bytes(line.begin() + len - 4, line.begin() + len) != unhex("a5 5a 3c c3")) {
            ADD_FAILURE() << where << " not a whole frame: "
                          << hex(line.data(), std::min<size_t>(line.size(), 16));
            line.clear();
        }
        line.erase(line.begin(), line.begin() + std::min(len, line.size()));
    }
}

// The TCP client: connects to the socket's current port, sends frames and reads what the
// library writes; now and then hangs up and comes back, as a real client does.
void tcp_client(const std::atomic<int> &port, const std::atomic<bool> &stop) {
    for (uint32_t session = 0; !stop; ++session) {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port.load()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        Bytes line;
        for (uint32_t n = 0; up && n < 200 && !stop; ++n) {
            Bytes f = frame(n + session, 600);
            pollfd p = {fd, POLLIN, 0};
            up = ::send(fd, f.data(), f.size(), MSG_NOSIGNAL) == 600;
            if (up && ::poll(&p, 1, 1) > 0) {
                uint8_t buf[4096];
                ssize_t got = ::recv(fd, buf, sizeof buf, 0);
                up = got > 0;
                g_seen[kTcpBytes] += static_cast<uint64_t>(up ? got : 0);
                line.insert(line.end(), buf, buf + (up ? got : 0));
                take_whole_frames(line, "tcp");
            }
        }
        ::close(fd);
        std::this_thread::sleep_for(2ms);  // pacing the next session
    }
}

// The far ends: serial peer, PCI far side, HDLC far end; the cable, other ports' links and
// the radio's shifts come and go; time passes for every family's timers.
void serial_peer(const std::atomic<bool> &stop) {
    Bytes line;
    for (uint32_t n = 0; !stop; ++n) {
        sim::serial_peer_write(frame(n, 15));
        Bytes got = sim::serial_peer_read(4096, 1ms);
        g_seen[kSerialBytes] += got.size();
        line.insert(line.end(), got.begin(), got.end());
        take_whole_frames(line, "serial");
    }
}

void pci_far_side(const std::atomic<bool> &stop) {
    for (uint32_t n = 0; !stop; ++n) {
        if (sim::pci_rx_pending() < 4) {
            sim::pci_inject(Bytes(1 + n % 64, static_cast<uint8_t>(n)), 1 + n % 2);
        }
        sim::hdlc_receive({0x21, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
        std::this_thread::sleep_for(200us);  // pacing
    }
}

void link_events(const std::atomic<bool> &stop) {
    for (uint32_t n = 0; !stop; ++n) {
        sim::set_link_connected(n % 2 == 0);
        sim::raise_port_link_event(static_cast<int>(1 + n % 3), n % 3 != 0, n % 2 ? 1000 : 100);
        sim::radio_notify_shift(static_cast<int>(n % 9), -static_cast<int>(n % 5),
                                static_cast<int>(n & 1));
        std::this_thread::sleep_for(1ms);  // pacing
    }
}

void ticker(const std::atomic<bool> &stop) {
    while (!stop) {
        sim::advance_clock_ms(sim::kTickMs);
        std::this_thread::sleep_for(500us);  // pacing
    }
}

Bytes own_bytes(int worker, uint32_t seq, size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<uint8_t>(worker * 31 + seq * 7 + i);
    }
    return out;
}

// The self-describing record a worker writes to a shared object: worker, seq (4 bytes),
// length, payload derived from them, and the sum of everything before.
Bytes shared_record(int worker, uint32_t seq) {
    size_t payload = 8 + seq % 100;
    Bytes out = {static_cast<uint8_t>(1 + worker), static_cast<uint8_t>(seq),
                 static_cast<uint8_t>(seq >> 8),   static_cast<uint8_t>(seq >> 16),
                 static_cast<uint8_t>(seq >> 24),  static_cast<uint8_t>(payload)};
    Bytes body = own_bytes(worker, seq, payload);
    out.insert(out.end(), body.begin(), body.end());
    uint8_t sum = 0;
    for (uint8_t b : out) {
        sum = static_cast<uint8_t>(sum + b);
    }
    out.push_back(sum);
    return out;
}

// A record read back is one worker's whole record, never a mix of two.
bool consistent_record(const Bytes &bytes) {
    uint32_t seq = bytes[1] | bytes[2] << 8 | bytes[3] << 16 | uint32_t{bytes[4]} << 24;
    Bytes expect = shared_record(bytes[0] - 1, seq);
    return bytes[0] != 0 && std::equal(expect.begin(), expect.end(), bytes.begin());
}

UINT32 open_obj(const std::string &name, const char *mode) {
    UINT32 id = 0;
    std::string n = name;
    std::string m = mode;
    return DbObjOpen(0, &id, n.data(), m.data()) == 0 ? id : 0;
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

// One call of a family with a stop, made while it stops and starts; any result is accepted.
void call_any(int worker, uint32_t seq) {
    uint8_t buf[64] = {0x21, static_cast<uint8_t>(seq)};
    const UINT32 len = 1 + seq % 64;
    switch (seq % 6) {
        case 0:
            if (UINT32 id = open_obj("own" + std::to_string(worker), seq % 12 ? "w+" : "r")) {
                DbObjWrite(id, buf, sizeof buf);
                DbObjRead(id, buf, sizeof buf);
                DbObjClose(id);
            }
            break;
        case 1:
            FlashRead(0, buf, sizeof buf);
            break;
        case 2:
            pci_send(buf, len, 1);
            break;
        case 3:
            FramerWrite(buf, len);
            break;
        case 4:
            ti_socket_write(reinterpret_cast<char *>(buf), len);
            break;
        default:
            DpdpSend(buf, len);
            break;
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
        stop_peers();
        if (up_) {
            shut_down();
        }
        sim::join_tasks(10s);
        sim::unmap_region(region_, kRegionSize);
    }

    // The families that have a stop, in the start order; with `at_boot` also the steps done
    // once per boot (EEPROM probe, PCI node attached, DPDP reconfiguration registered) and
    // the families that are only started.
    void start(bool at_boot) {
        up_ = true;
        ASSERT_EQ(
            DbCreate(0, static_cast<UINT32>(reinterpret_cast<uintptr_t>(region_)), kRegionSize),
            0u);
        ASSERT_EQ(at_boot ? e2prom_i2c_addr_find() : 0, 0);
        ASSERT_EQ(FlashCreate(), 0u);
        if (at_boot) {
            init_pci();
            enable_pci();
        }
        ASSERT_EQ(pci_install_rx_callback(on_pci), 0);
        ASSERT_EQ(pci_open(0x5157E55), 0);
        ASSERT_EQ(FramerCreate(0), 0u);
        ASSERT_EQ(FramerOpen(on_framer, 115200), 0u);
        tcp_port_ = sim::free_loopback_port();
        ASSERT_EQ(ti_socket_init(tcp_port_), 0);
        ASSERT_EQ(ti_socket_open(on_socket), 0);
        ASSERT_EQ(at_boot ? DpdpInit() : 0, 0);
        ASSERT_EQ(DpdpOpen(on_dpdp), 0u);
        UINT32 flash_base = 0;
        ASSERT_EQ(FlashGetInfo(&flash_base, &flash_size_, &flash_sectors_), 0u);
        ASSERT_GT(flash_sectors_, static_cast<uint32_t>(kWorkers));
        if (at_boot) {
            ehsl_port_init();
            ehsl_pmap_init();
            ASSERT_EQ(ecps_init(), 0);
            ASSERT_EQ(init_seis(), 0);
        }
    }
    // Every family in its stop order; with `racing`, while workers still call them, so that
    // the results depend on the race.
    void shut_down(bool racing = false) {
        up_ = false;
        DpdpSetCallback(nullptr);
        EXPECT_TRUE(DpdpClose() == 0 || racing);
        EXPECT_TRUE(ti_socket_init(0) == 0 ||
                    racing);  // retires the socket: the one way to stop it
        FramerClose();
        EXPECT_TRUE(FramerDelete() == 0 || racing);
        EXPECT_TRUE(pci_close() == 0 || racing);
        pci_install_rx_callback(nullptr);
        EXPECT_TRUE(FlashDelete() == 0 || racing);
        // Refused while a worker holds an object; it comes through between two of its calls.
        EXPECT_TRUE(racing ? wait_until([] { return DbDelete(0) == 0; }) : DbDelete(0) == 0);
    }
    void start_peers() {
        stop_peers_ = false;
        for (auto peer : {ticker, serial_peer, pci_far_side, link_events}) {
            peers_.emplace_back(peer, std::cref(stop_peers_));
        }
        peers_.emplace_back(tcp_client, std::cref(tcp_port_), std::cref(stop_peers_));
    }
    void stop_peers() {
        stop_peers_ = true;
        for (std::thread &t : peers_) {
            t.join();
        }
        peers_.clear();
    }
    // Stops the peers, then expects the far ends idle, every task ended and no semaphore held.
    void stop_peers_and_expect_all_ended() {
        stop_peers();
        EXPECT_TRUE(sim::pci_wait_idle());
        EXPECT_TRUE(sim::join_tasks(10s));
        EXPECT_EQ(sim::running_tasks(), 0u);
        EXPECT_TRUE(sim::held_semaphores().empty());
    }
    // One valid call of family `family` by worker `worker`, checked.
    void hammer(int worker, int family, uint32_t seq);

    UINT8 *region_ = nullptr;
    std::atomic<int> tcp_port_{0};  // changes with every start of the socket
    uint32_t flash_size_ = 0;
    uint32_t flash_sectors_ = 0;
    std::vector<uint32_t> last_flash_seq_ = std::vector<uint32_t>(kWorkers, UINT32_MAX);
    std::vector<uint32_t> last_e2prom_seq_ = std::vector<uint32_t>(kWorkers, UINT32_MAX);
    std::atomic<bool> stop_peers_{false};
    std::vector<std::thread> peers_;
    bool up_ = false;
};

void StressTest::hammer(int worker, int family, uint32_t seq) {
    const auto page = static_cast<UINT16>(kE2promBase + worker * kPage);
    const UINT32 sector = flash_sectors_ - 1 - static_cast<UINT32>(worker);
    Bytes msg(1 + seq % 588, static_cast<uint8_t>(seq));
    int v = 0;
    switch (family) {
        case 0: {  // the worker's own object: written whole, read back whole
            Bytes bytes = own_bytes(worker, seq, 1 + seq % 200);
            Bytes back(bytes.size());
            UINT32 id = open_obj("own" + std::to_string(worker), "w");
            ASSERT_NE(id, 0u);
            ASSERT_EQ(DbObjWrite(id, bytes.data(), static_cast<UINT32>(bytes.size())), 0u);
            ASSERT_EQ(DbObjClose(id), 0u);
            id = open_obj("own" + std::to_string(worker), "r");
            ASSERT_NE(id, 0u);
            EXPECT_EQ(DbObjRead(id, back.data(), static_cast<UINT32>(back.size())), 0u);
            EXPECT_EQ(DbObjClose(id), 0u);
            EXPECT_EQ(back, bytes);
            break;
        }
        case 1: {  // the shared objects: whole records replace each other
            std::string name = "shared" + std::to_string(seq % kSharedObjects);
            UINT32 id = open_obj(name, seq % 2 ? "w+" : "r+");
            id = id != 0 ? id : open_obj(name, "w+");  // "r+" of an object nobody created yet
            ASSERT_NE(id, 0u);
            Bytes seen(256, 0);
            EXPECT_EQ(DbObjRead(id, seen.data(), static_cast<UINT32>(seen.size())), 0u);
            EXPECT_TRUE(seq % 2 != 0 || seen[0] == 0 || consistent_record(seen)) << name;
            Bytes rec = shared_record(worker, seq);
            EXPECT_EQ(DbObjWrite(id, rec.data(), static_cast<UINT32>(rec.size())), 0u);
            EXPECT_EQ(DbObjClose(id), 0u);
            break;
        }
        case 2: {  // the worker's own EEPROM page
            Bytes back(kPage);
            if (seq % 4 == 0) {
                Bytes bytes = own_bytes(worker, seq, kPage);
                ASSERT_EQ(e2prom_write(page, bytes.data(), kPage), static_cast<INT>(kPage));
                last_e2prom_seq_[worker] = seq;
            }
            ASSERT_EQ(e2prom_read(page, back.data(), kPage), static_cast<INT>(kPage));
            if (last_e2prom_seq_[worker] != UINT32_MAX) {
                EXPECT_EQ(back, own_bytes(worker, last_e2prom_seq_[worker], kPage));
            }
            break;
        }
        case 3: {  // the worker's own flash sector
            UINT32 base = 0;
            UINT32 sector_size = 0;
            ASSERT_EQ(FlashGetSectorInfo(sector, &base, &sector_size), 0u);
            if (seq % 4 == 0) {
                Bytes bytes = own_bytes(worker, seq, kFlashBytes);
                ASSERT_EQ(FlashEraseSector(sector), 0u);
                ASSERT_EQ(FlashWrite(bytes.data(), base, kFlashBytes), 0u);
                last_flash_seq_[worker] = seq;
            }
            Bytes back(kFlashBytes);
            ASSERT_EQ(FlashRead(base, back.data(), kFlashBytes), 0u);
            if (last_flash_seq_[worker] != UINT32_MAX) {
                EXPECT_EQ(back, own_bytes(worker, last_flash_seq_[worker], kFlashBytes));
            }
            EXPECT_NE(FlashRead(flash_size_ - 4, back.data(), 8), 0u);  // ends beyond the flash
            break;
        }
        case 4: {
            uint8_t buf[16];
            UINT16 reg = 0;
            EXPECT_EQ(i2c_read_buf(1, 0x50, 0, 1, buf, sizeof buf, 0), 16);
            EXPECT_EQ(i2c_read_sfp_phy(0, static_cast<UINT8>(seq % 4), &reg), 0);
            break;
        }
        case 5: {
            Bytes big(1 + seq % 1536, static_cast<uint8_t>(seq));
            EXPECT_EQ(pci_send(big.data(), static_cast<UINT32>(big.size()), 1), 0);
            break;
        }
        case 6:
            EXPECT_EQ(FramerWrite(msg.data(), static_cast<UINT32>(msg.size())), 0u);
            break;
        case 7: {
            int r = ti_socket_write(reinterpret_cast<char *>(msg.data()),
                                    static_cast<UINT32>(msg.size()));
            EXPECT_TRUE(r == 0 || r == -1);  // -1 while the client is away
            break;
        }
        case 8: {
            Bytes frame(1 + seq % 8, static_cast<uint8_t>(seq));
            UINT32 r = DpdpSend(frame.data(), static_cast<UINT32>(frame.size()));
            EXPECT_TRUE(r == 0 || r == 1);  // 1 while another sender holds the channel
            break;
        }
        case 9: {
            ehsl_port_cfg_t duplex{};
            EXPECT_EQ(ehsl_port_speed_get(3, &v), 0);
            EXPECT_EQ(ehsl_port_link_status_get(3, &v), 0);
            EXPECT_EQ(ehsl_port_duplex_get(3, &duplex), 0);
            EXPECT_EQ(ehsl_port_llf_set(3, static_cast<int>(seq % 2)), 0);
            EXPECT_EQ(ehsl_port_llf_get(3, &v), 0);
            EXPECT_EQ(ehsl_pmap_hw_to_eps(3, &v), 0);
            break;
        }
        case 10: {
            unsigned int period = 0;
            EXPECT_EQ(ecps_alarmPeriod_set(1, 1 + seq % 50), 0);
            EXPECT_EQ(ecps_alarmPeriod_get(1, &period), 0);
            EXPECT_GE(period, 1u);
            EXPECT_EQ(ecps_delayComp_set(1, static_cast<int>(seq % 1000)), 0);
            EXPECT_EQ(ecps_delayComp_get(1, &v), 0);
            std::vector<char> res(1 + seq % 900, '\x7f');
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

// Every family called by every worker while every far end talks back; then every family that
// has a stop stopped and started again while workers still call it: the calls that race with a
// stop or a start may fail, but none may crash, hang or race, a new start serves, and after
// each stop nothing is left behind, after the restart no more than after the first stop.
TEST_F(StressTest, EveryFamilyAtOnceThenStoppedAndStartedUnderLoadLeavesNothingBehind) {
    QuietStdout quiet;
    const size_t descriptors = open_descriptor_count();
    const size_t files = sim::open_device_files();  // the PCI node of an earlier test
    ASSERT_LE(files, 1u);
    start(true);
    ASSERT_FALSE(HasFatalFailure());
    start_peers();
    {
        auto load = workers([this](int w, uint32_t seq) {
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
    EXPECT_GT(sim::pci_taken_count(), 0u);
    EXPECT_FALSE(sim::hdlc_sent_frames().empty());
    EXPECT_FALSE(sim::link_events().empty());
    for (const sim::SemaphoreInfo &s : sim::semaphores()) {
        EXPECT_EQ(s.name, "ti_sock") << "semaphore left";  // the unopened socket's (free) one
    }
    g_restarting = true;
    const size_t semaphores = sim::semaphores().size();
    const size_t timers = sim::enabled_timers();
    start(false);
    ASSERT_FALSE(HasFatalFailure());
    start_peers();
    auto load = workers(call_any);
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(stress_duration() / 6);  // load, not a wait
        shut_down(true);
        ASSERT_TRUE(more_calls(500));
        start(false);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
    }
    const uint64_t framer_rx = g_seen[kFramerRx].load();
    const uint64_t socket_rx = g_seen[kSocketRx].load();
    EXPECT_TRUE(wait_until([framer_rx] { return g_seen[kFramerRx].load() > framer_rx; }));
    EXPECT_TRUE(wait_until([socket_rx] { return g_seen[kSocketRx].load() > socket_rx; }));
    shut_down(true);
    EXPECT_TRUE(more_calls(2000));
    load.clear();
    stop_peers_and_expect_all_ended();
    EXPECT_EQ(sim::open_device_files(), 1u);
    EXPECT_EQ(open_descriptor_count(), descriptors + 2 - files);
    EXPECT_EQ(sim::semaphores().size(), semaphores);
    EXPECT_EQ(sim::enabled_timers(), timers);
}

}  // namespace
}  // namespace bsp::test
