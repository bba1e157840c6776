// The stress rig's start, peers and stop (the fixture of the stress tests).
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
#include <bsp_ctrl/pcidev.h>
#include <bsp_ctrl/ti_socket_drv.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stress_rig.h"

namespace bsp::test {

namespace {

constexpr UINT32 kPciVersion = 0x5157E55;

int on_pci(UINT8 *, UINT32 len, UINT32) {
    EXPECT_GT(len, 0u);
    ++stress_counters().pci_rx;
    return 0;
}

void on_framer(UINT8 *msg) {
    ++stress_counters().framer_rx;
    std::free(msg);
}

int on_socket(void *msg) {
    ++stress_counters().socket_rx;
    std::free(msg);
    return 0;
}

void on_dpdp(void *, UINT32 size) {
    EXPECT_GT(size, 0u);
    ++stress_counters().dpdp_rx;
}

std::vector<uint8_t> serial_frame(uint32_t n) {
    std::vector<uint8_t> out(15, 0);
    const uint8_t head[] = {0x5A, 0xA5, 0xC3, 0x3C, 0, 0, 0, 15};
    std::memcpy(out.data(), head, sizeof head);
    out[8] = static_cast<uint8_t>(n);
    out[9] = static_cast<uint8_t>(n >> 8);
    out[10] = 0x11;
    const uint8_t stop[] = {0xA5, 0x5A, 0x3C, 0xC3};
    std::memcpy(out.data() + 11, stop, sizeof stop);
    return out;
}

std::vector<uint8_t> tcp_frame(uint32_t n) {
    std::vector<uint8_t> f(600, 0);
    const uint8_t head[] = {0x5A, 0xA5, 0xC3, 0x3C, 0x00, 0x00, 0x02, 0x58};
    std::memcpy(f.data(), head, sizeof head);
    f[8] = static_cast<uint8_t>(n);
    const uint8_t stop[] = {0xA5, 0x5A, 0x3C, 0xC3};
    std::memcpy(f.data() + 596, stop, sizeof stop);
    return f;
}

// Reads whatever the server sent within `ms`; false when the server closed or failed.
bool drain_socket(int fd, int ms) {
    pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) {
        return true;
    }
    uint8_t buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
        stress_counters().tcp_bytes_seen += static_cast<uint64_t>(n);
    }
    return n > 0;
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
        if (fd < 0) {
            ADD_FAILURE() << "no client socket";
            return;
        }
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
            for (uint32_t n = 0; n < 200 && !stop; ++n) {
                std::vector<uint8_t> f = tcp_frame(n + session);
                if (::send(fd, f.data(), f.size(), MSG_NOSIGNAL) != 600 || !drain_socket(fd, 1)) {
                    break;
                }
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // pacing a retry
        }
        ::close(fd);
    }
}

void serial_peer(const std::atomic<bool> &stop) {
    for (uint32_t n = 0; !stop; ++n) {
        sim::serial_peer_write(serial_frame(n));
        std::vector<uint8_t> got = sim::serial_peer_read(4096, std::chrono::milliseconds(1));
        stress_counters().serial_bytes_seen += got.size();
    }
}

void pci_far_side(const std::atomic<bool> &stop) {
    for (uint32_t n = 0; !stop; ++n) {
        if (sim::pci_rx_pending() < 4) {
            std::vector<uint8_t> msg(1 + n % 64, static_cast<uint8_t>(n));
            sim::pci_inject(msg, 1 + n % 2);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));  // pacing
        }
    }
}

void hdlc_far_end(const std::atomic<bool> &stop) {
    for (uint32_t n = 0; !stop; ++n) {
        sim::hdlc_receive({0x21, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // pacing
    }
}

// The cable, other ports' links and the radio's shifts come and go.
void link_events(const std::atomic<bool> &stop) {
    for (uint32_t n = 0; !stop; ++n) {
        sim::set_link_connected(n % 2 == 0);
        sim::raise_port_link_event(static_cast<int>(1 + n % 3), n % 3 != 0, n % 2 ? 1000 : 100);
        sim::radio_notify_shift(static_cast<int>(n % 9), -static_cast<int>(n % 5),
                                static_cast<int>(n & 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // pacing
    }
}

// Time passes for the timers of every family (byte time-outs, the 1588 polling timer).
void ticker(const std::atomic<bool> &stop) {
    while (!stop) {
        sim::advance_clock_ms(sim::kTickMs);
        std::this_thread::sleep_for(std::chrono::microseconds(500));  // pacing
    }
}

}  // namespace

StressCounters &stress_counters() {
    static StressCounters c;
    return c;
}

QuietStdout::QuietStdout() : capture_(std::make_unique<StdoutCapture>()) {}

QuietStdout::~QuietStdout() {
    std::string text = capture_->text();
    capture_.reset();
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare(at, 16, "Allocated ti_req") != 0) {
            std::fwrite(text.data() + at, 1, end - at, stdout);
        }
        at = end;
    }
    std::fflush(stdout);
}

std::chrono::milliseconds stress_duration() {
    const char *s = std::getenv("STRESS_SECONDS");
    long seconds = s != nullptr ? std::strtol(s, nullptr, 10) : 0;
    return std::chrono::milliseconds(seconds > 0 ? seconds * 1000 : 3000);
}

void StressTest::SetUp() {
    SimTest::SetUp();
    region_ = static_cast<UINT8 *>(sim::map_low_region(kRegionSize));
    ASSERT_NE(region_, nullptr);
    last_own_.assign(kWorkers, {});
    last_flash_seq_.assign(kWorkers, UINT32_MAX);
    last_e2prom_seq_.assign(kWorkers, UINT32_MAX);
}

void StressTest::TearDown() {
    stop_peers();
    if (up_) {
        shut_down();
    }
    sim::join_tasks(std::chrono::seconds(10));
    sim::unmap_region(region_, kRegionSize);
    SimTest::TearDown();
}

void StressTest::start_stoppable(bool at_boot) {
    auto base = static_cast<UINT32>(reinterpret_cast<uintptr_t>(region_));
    ASSERT_EQ(DbCreate(0, base, kRegionSize), 0u);
    if (at_boot) {
        ASSERT_EQ(e2prom_i2c_addr_find(), 0);
    }
    ASSERT_EQ(FlashCreate(), 0u);
    if (at_boot) {
        init_pci();
        enable_pci();
    }
    ASSERT_EQ(pci_install_rx_callback(on_pci), 0);
    ASSERT_EQ(pci_open(kPciVersion), 0);
    ASSERT_EQ(FramerCreate(0), 0u);
    ASSERT_EQ(FramerOpen(on_framer, 115200), 0u);
    tcp_port_ = sim::free_loopback_port();
    ASSERT_EQ(ti_socket_init(tcp_port_), 0);
    ASSERT_EQ(ti_socket_open(on_socket), 0);
    if (at_boot) {
        ASSERT_EQ(DpdpInit(), 0);
    }
    ASSERT_EQ(DpdpOpen(on_dpdp), 0u);
}

void StressTest::bring_up(bool at_boot) {
    up_ = true;
    start_stoppable(at_boot);
    UINT32 flash_base = 0;
    ASSERT_EQ(FlashGetInfo(&flash_base, &flash_size_, &flash_sectors_), 0u);
    ASSERT_GT(flash_sectors_, static_cast<uint32_t>(kWorkers));
    if (!at_boot) {
        return;
    }
    ehsl_port_init();
    ehsl_pmap_init();
    ASSERT_EQ(ecps_init(), 0);
    ASSERT_EQ(init_seis(), 0);
}

void StressTest::shut_down() {
    up_ = false;
    DpdpSetCallback(nullptr);
    EXPECT_EQ(DpdpClose(), 0u);
    EXPECT_EQ(ti_socket_init(0), 0);  // retires the socket: the one way to stop it
    FramerClose();
    EXPECT_EQ(FramerDelete(), 0u);
    EXPECT_EQ(pci_close(), 0);
    pci_install_rx_callback(nullptr);
    EXPECT_EQ(FlashDelete(), 0u);
    EXPECT_EQ(DbDelete(0), 0u);
}

void StressTest::stop_peers_and_expect_all_ended() {
    stop_peers();
    EXPECT_TRUE(sim::pci_wait_idle());
    EXPECT_TRUE(sim::join_tasks(std::chrono::seconds(10)));
    EXPECT_EQ(sim::running_tasks(), 0u);
    EXPECT_TRUE(sim::held_semaphores().empty());
}

void StressTest::start_peers() {
    stop_peers_ = false;
    peers_.emplace_back(ticker, std::cref(stop_peers_));
    peers_.emplace_back(serial_peer, std::cref(stop_peers_));
    peers_.emplace_back(tcp_client, std::cref(tcp_port_), std::cref(stop_peers_));
    peers_.emplace_back(pci_far_side, std::cref(stop_peers_));
    peers_.emplace_back(hdlc_far_end, std::cref(stop_peers_));
    peers_.emplace_back(link_events, std::cref(stop_peers_));
}

void StressTest::stop_peers() {
    stop_peers_ = true;
    for (std::thread &t : peers_) {
        t.join();
    }
    peers_.clear();
}

}  // namespace bsp::test
