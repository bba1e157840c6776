// The stress workers' calls, family by family, valid and invalid (part of the stress tests'
// fixture).
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

#include <cstring>
#include <string>

#include "stress_rig.h"

namespace bsp::test {

namespace {

constexpr UINT16 kE2promBase = 0x3000;  // each worker owns one 64-byte page from here
constexpr size_t kE2promBytes = 64;
constexpr size_t kFlashBytes = 256;
constexpr int kSharedObjects = 3;

std::string name_of(const char *prefix, int n) {
    return prefix + std::to_string(n);
}

UINT32 open_obj(const std::string &name, const char *mode) {
    UINT32 id = 0;
    std::string n = name;
    std::string m = mode;
    return DbObjOpen(0, &id, n.data(), m.data()) == 0 ? id : 0;
}

uint8_t sum_of(const uint8_t *p, size_t n) {
    uint8_t s = 0;
    for (size_t i = 0; i < n; ++i) {
        s = static_cast<uint8_t>(s + p[i]);
    }
    return s;
}

// Worker `worker`'s own object: written, read back whole, and refused calls around it.
void hammer_db_own(int worker, uint32_t seq, std::vector<uint8_t> *last) {
    std::string name = name_of("own", worker);
    std::vector<uint8_t> bytes = own_bytes(worker, seq, 1 + seq % 200);
    UINT32 id = open_obj(name, "w");
    ASSERT_NE(id, 0u);
    ASSERT_EQ(DbObjWrite(id, bytes.data(), static_cast<UINT32>(bytes.size())), 0u);
    uint8_t b = 0;
    EXPECT_EQ(DbObjRead(id, &b, 1), 1u);  // a "w" handle does not read
    ASSERT_EQ(DbObjClose(id), 0u);
    *last = bytes;
    id = open_obj(name, "r");
    ASSERT_NE(id, 0u);
    std::vector<uint8_t> back(bytes.size() + 8, 0xEE);
    EXPECT_EQ(DbObjRead(id, back.data(), static_cast<UINT32>(back.size())), 0u);
    EXPECT_EQ(DbObjWrite(id, bytes.data(), 1), 1u);  // an "r" handle does not write
    ASSERT_EQ(DbObjClose(id), 0u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
    EXPECT_EQ(open_obj(name_of("missing", worker), "r"), 0u);
    EXPECT_EQ(open_obj(name, "x"), 0u);
}

// The shared objects: whole records replace each other, a reader never sees a mix.
void hammer_db_shared(int worker, uint32_t seq) {
    std::string name = name_of("shared", static_cast<int>(seq % kSharedObjects));
    UINT32 id = open_obj(name, seq % 2 ? "w+" : "r+");
    if (id == 0) {
        id = open_obj(name, "w+");  // "r+" of an object nobody created yet
    }
    ASSERT_NE(id, 0u);
    std::vector<uint8_t> seen(256, 0);
    EXPECT_EQ(DbObjRead(id, seen.data(), static_cast<UINT32>(seen.size())), 0u);
    if (seq % 2 == 0 && seen[0] != 0) {
        EXPECT_TRUE(consistent_record(seen)) << name;
    }
    std::vector<uint8_t> rec = shared_record(worker, seq);
    EXPECT_EQ(DbObjWrite(id, rec.data(), static_cast<UINT32>(rec.size())), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_NE(DbObjClose(0xDEAD0000u + static_cast<UINT32>(worker)), 0u);  // no such handle
}

void hammer_e2prom(int worker, uint32_t seq, uint32_t *last_seq) {
    auto address = static_cast<UINT16>(kE2promBase + worker * kE2promBytes);
    std::vector<uint8_t> bytes = own_bytes(worker, seq, kE2promBytes);
    if (seq % 4 == 0) {
        ASSERT_EQ(e2prom_write(address, bytes.data(), kE2promBytes),
                  static_cast<INT>(kE2promBytes));
        *last_seq = seq;
    }
    std::vector<uint8_t> back(kE2promBytes);
    ASSERT_EQ(e2prom_read(address, back.data(), kE2promBytes), static_cast<INT>(kE2promBytes));
    if (*last_seq != UINT32_MAX) {
        EXPECT_EQ(back, own_bytes(worker, *last_seq, kE2promBytes));
    }
    EXPECT_EQ(e2prom_read(0x3FF8, back.data(), kE2promBytes), 8);  // cut at the end
    EXPECT_EQ(e2prom_read(0, nullptr, 4), 0);
}

void hammer_flash(int worker, uint32_t seq, uint32_t sectors, uint32_t size, uint32_t *last) {
    UINT32 sector = sectors - 1 - static_cast<UINT32>(worker);
    UINT32 base = 0;
    UINT32 sector_size = 0;
    ASSERT_EQ(FlashGetSectorInfo(sector, &base, &sector_size), 0u);
    std::vector<uint8_t> bytes = own_bytes(worker, seq, kFlashBytes);
    if (seq % 4 == 0) {
        ASSERT_EQ(FlashEraseSector(sector), 0u);
        ASSERT_EQ(FlashWrite(bytes.data(), base, kFlashBytes), 0u);
        *last = seq;
    }
    std::vector<uint8_t> back(kFlashBytes);
    ASSERT_EQ(FlashRead(base, back.data(), kFlashBytes), 0u);
    if (*last != UINT32_MAX) {
        EXPECT_EQ(back, own_bytes(worker, *last, kFlashBytes));
    }
    EXPECT_NE(FlashRead(size - 4, back.data(), 8), 0u);  // ends beyond the flash
    EXPECT_NE(FlashRead(0, nullptr, 4), 0u);
}

void hammer_i2c(uint32_t seq) {
    uint8_t buf[16];
    EXPECT_EQ(i2c_read_buf(1, 0x50, 0, 1, buf, sizeof buf, 0), 16);
    UINT16 v = 0;
    EXPECT_EQ(i2c_read_sfp_phy(0, static_cast<UINT8>(seq % 4), &v), 0);
    EXPECT_EQ(i2c_read_buf(9, 0x50, 0, 1, buf, sizeof buf, 0), -1);  // no such bus
    EXPECT_LT(i2c_read_buf(1, 0x33, 0, 1, buf, sizeof buf, 0), 0);   // no such chip
    EXPECT_EQ(i2c_read_sfp_phy(0, 1, nullptr), -EFAULT);
}

void hammer_pci(uint32_t seq) {
    std::vector<uint8_t> msg(1 + seq % 1536, static_cast<uint8_t>(seq));
    EXPECT_EQ(pci_send(msg.data(), static_cast<UINT32>(msg.size()), 1), 0);
    EXPECT_EQ(pci_send(msg.data(), 0, 1), -1);
    EXPECT_EQ(pci_send(nullptr, 4, 1), -1);
    std::vector<uint8_t> big(1537);
    EXPECT_EQ(pci_send(big.data(), 1537, 1), -1);
}

void hammer_framer(uint32_t seq) {
    std::vector<uint8_t> msg(1 + seq % 588, static_cast<uint8_t>(seq));
    EXPECT_EQ(FramerWrite(msg.data(), static_cast<UINT32>(msg.size())), 0u);
    EXPECT_NE(FramerWrite(nullptr, 4), 0u);
    std::vector<uint8_t> big(589);
    EXPECT_NE(FramerWrite(big.data(), 589), 0u);
}

void hammer_socket(uint32_t seq) {
    std::vector<char> msg(1 + seq % 588, static_cast<char>(seq));
    int r = ti_socket_write(msg.data(), static_cast<UINT32>(msg.size()));
    EXPECT_TRUE(r == 0 || r == -1);  // -1 while the client is away
    EXPECT_EQ(ti_socket_write(msg.data(), 0), -1);
    EXPECT_EQ(ti_socket_write(nullptr, 4), -1);
    std::vector<char> big(589);
    EXPECT_EQ(ti_socket_write(big.data(), 589), -1);
}

void hammer_dpdp(uint32_t seq) {
    uint8_t pkt[8] = {0x21, static_cast<uint8_t>(seq), 1, 2, 3, 4, 5, 6};
    UINT32 r = DpdpSend(pkt, 1 + seq % 8);
    EXPECT_TRUE(r == 0 || r == 1);  // 1 while another sender holds the channel
    EXPECT_EQ(DpdpSend(nullptr, 4), 1u);
    EXPECT_EQ(DpdpSend(pkt, 0), 1u);
}

void hammer_port(uint32_t seq) {
    int v = 0;
    ehsl_port_cfg_t duplex{};
    ehsl_port_mdix_t mdix{};
    EXPECT_EQ(ehsl_port_speed_get(3, &v), 0);
    EXPECT_EQ(ehsl_port_link_status_get(3, &v), 0);
    EXPECT_EQ(ehsl_port_duplex_get(3, &duplex), 0);
    EXPECT_EQ(ehsl_port_mdix_get(3, &mdix), 0);
    EXPECT_EQ(ehsl_port_autoneg_get(3, &v), 0);
    int tx = 0;
    int rx = 0;
    EXPECT_EQ(ehsl_port_pause_get(3, &tx, &rx), 0);
    EXPECT_EQ(ehsl_port_llf_set(3, static_cast<int>(seq % 2)), 0);
    EXPECT_EQ(ehsl_port_llf_get(3, &v), 0);
    EXPECT_NE(ehsl_port_speed_get(99, &v), 0);
    EXPECT_NE(ehsl_port_speed_get(3, nullptr), 0);
    unsigned int bridge = 0;
    EXPECT_NE(ehsl_pmap_hw_to_bridgeport(-5, &bridge), 0);
    EXPECT_EQ(ehsl_pmap_hw_to_eps(3, &v), 0);
}

void hammer_ecps(uint32_t seq) {
    EXPECT_EQ(ecps_alarmPeriod_set(1, 1 + seq % 50), 0);
    unsigned int period = 0;
    EXPECT_EQ(ecps_alarmPeriod_get(1, &period), 0);
    EXPECT_GE(period, 1u);
    EXPECT_EQ(ecps_delayComp_set(1, static_cast<int>(seq % 1000)), 0);
    int delay = 0;
    EXPECT_EQ(ecps_delayComp_get(1, &delay), 0);
    EXPECT_EQ(ecps_delayComp_set(77, 1), -1);
    std::vector<char> res(seq % 900, '\x7f');
    EXPECT_EQ(ecps_debug_print(static_cast<int>(res.size()), res.empty() ? nullptr : res.data()),
              0);
    if (!res.empty()) {
        EXPECT_NE(std::memchr(res.data(), 0, res.size()), nullptr);
    }
}

void hammer_seis(uint32_t seq) {
    static const char *const kArgs[] = {"-v", "-r", "-h", "-q", ""};
    std::string cmd = "seis";
    std::string arg = kArgs[seq % 5];
    char *argv[] = {cmd.data(), arg.data()};
    int argc = arg.empty() ? 1 : 2;
    std::vector<char> res(seq % 700, '\x7f');
    EXPECT_EQ(
        seis_cmd(argc, argv, static_cast<int>(res.size()), res.empty() ? nullptr : res.data()), 0);
    if (!res.empty()) {
        EXPECT_NE(std::memchr(res.data(), 0, res.size()), nullptr);
    }
}

}  // namespace

std::vector<uint8_t> own_bytes(int worker, uint32_t seq, size_t size) {
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<uint8_t>(worker * 31 + seq * 7 + i);
    }
    return out;
}

// worker, seq (4 bytes), length, payload derived from them, sum of everything before.
std::vector<uint8_t> shared_record(int worker, uint32_t seq) {
    size_t payload = 8 + seq % 100;
    std::vector<uint8_t> out = {static_cast<uint8_t>(1 + worker), static_cast<uint8_t>(seq),
                                static_cast<uint8_t>(seq >> 8),   static_cast<uint8_t>(seq >> 16),
                                static_cast<uint8_t>(seq >> 24),  static_cast<uint8_t>(payload)};
    std::vector<uint8_t> body = own_bytes(worker, seq, payload);
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(sum_of(out.data(), out.size()));
    return out;
}

bool consistent_record(const std::vector<uint8_t> &bytes) {
    if (bytes.size() < 7 || bytes[0] == 0) {
        return false;
    }
    int worker = bytes[0] - 1;
    uint32_t seq =
        bytes[1] | bytes[2] << 8 | bytes[3] << 16 | static_cast<uint32_t>(bytes[4]) << 24;
    std::vector<uint8_t> expect = shared_record(worker, seq);
    return bytes.size() >= expect.size() && std::equal(expect.begin(), expect.end(), bytes.begin());
}

void StressTest::hammer(int worker, int family, uint32_t seq) {
    ++stress_counters().calls;
    switch (family) {
        case 0:
            hammer_db_own(worker, seq, &last_own_[worker]);
            break;
        case 1:
            hammer_db_shared(worker, seq);
            break;
        case 2:
            hammer_e2prom(worker, seq, &last_e2prom_seq_[worker]);
            break;
        case 3:
            hammer_flash(worker, seq, flash_sectors_, flash_size_, &last_flash_seq_[worker]);
            break;
        case 4:
            hammer_i2c(seq);
            break;
        case 5:
            hammer_pci(seq);
            break;
        case 6:
            hammer_framer(seq);
            break;
        case 7:
            hammer_socket(seq);
            break;
        case 8:
            hammer_dpdp(seq);
            break;
        case 9:
            hammer_port(seq);
            break;
        case 10:
            hammer_ecps(seq);
            break;
        case 11:
            hammer_seis(seq);
            break;
        default:
            ADD_FAILURE() << "no family " << family;
            break;
    }
}

void StressTest::check_owned_contents() {
    for (int w = 0; w < kWorkers; ++w) {
        if (!last_own_[w].empty()) {
            UINT32 id = open_obj(name_of("own", w), "r");
            ASSERT_NE(id, 0u);
            std::vector<uint8_t> back(last_own_[w].size());
            EXPECT_EQ(DbObjRead(id, back.data(), static_cast<UINT32>(back.size())), 0u);
            EXPECT_EQ(DbObjClose(id), 0u);
            EXPECT_EQ(back, last_own_[w]) << "own" << w;
        }
        if (last_e2prom_seq_[w] != UINT32_MAX) {
            std::vector<uint8_t> back(kE2promBytes);
            auto address = static_cast<UINT16>(kE2promBase + w * kE2promBytes);
            EXPECT_EQ(e2prom_read(address, back.data(), kE2promBytes),
                      static_cast<INT>(kE2promBytes));
            EXPECT_EQ(back, own_bytes(w, last_e2prom_seq_[w], kE2promBytes));
        }
    }
    for (int w = 0; w < kWorkers; ++w) {
        if (last_flash_seq_[w] != UINT32_MAX) {
            UINT32 base = 0;
            UINT32 sector_size = 0;
            ASSERT_EQ(FlashGetSectorInfo(flash_sectors_ - 1 - static_cast<UINT32>(w), &base,
                                         &sector_size),
                      0u);
            std::vector<uint8_t> back(kFlashBytes);
            EXPECT_EQ(FlashRead(base, back.data(), kFlashBytes), 0u);
            EXPECT_EQ(back, own_bytes(w, last_flash_seq_[w], kFlashBytes));
        }
    }
    for (int s = 0; s < kSharedObjects; ++s) {
        UINT32 id = open_obj(name_of("shared", s), "r");
        if (id != 0) {
            std::vector<uint8_t> back(256, 0);
            EXPECT_EQ(DbObjRead(id, back.data(), static_cast<UINT32>(back.size())), 0u);
            EXPECT_EQ(DbObjClose(id), 0u);
            EXPECT_TRUE(consistent_record(back)) << "shared" << s;
        }
    }
}

}  // namespace bsp::test
