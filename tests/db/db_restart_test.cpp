// A database region backed by a file survives a simulated restart: mapped again at the same
// address, it is adopted with every object.
#include <unistd.h>

#include <cstdlib>

#include "db_fixture.h"

namespace bsp::test {
namespace {

constexpr uintptr_t kRestartBase = 0x31000000;
constexpr size_t kRestartSize = 256 * 1024;

class DbRestartTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        char path[] = "/tmp/db_restart_XXXXXX";
        int fd = ::mkstemp(path);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path_ = path;
    }
    void TearDown() override {
        DbDelete(0);
        sim::unmap_region(region_, kRestartSize);
        ::unlink(path_.c_str());
        SimTest::TearDown();
    }

    void map() {
        region_ = sim::map_file_region(path_, kRestartSize, kRestartBase);
        ASSERT_NE(region_, nullptr) << "address 0x31000000 is taken";
    }
    // The restart: the database goes, the process's view of the region goes, the unit resets.
    void restart() {
        ASSERT_EQ(DbDelete(0), 0u);
        sim::unmap_region(region_, kRestartSize);
        region_ = nullptr;
        sim::reset_unit();
        map();
    }
    std::string path_;
    void *region_ = nullptr;
};

std::string contents_of(int i) {
    return "object " + std::to_string(i) + std::string(static_cast<size_t>(i % 40), '*');
}

TEST_F(DbRestartTest, ObjectsSurviveAndStoreStaysUsable) {
    map();
    ASSERT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
    constexpr int kObjects = 200;
    for (int i = 0; i < kObjects; ++i) {
        db_put(("name" + std::to_string(i)).c_str(), contents_of(i));
    }
    UINT32 removed = db_open("name7", "r");
    ASSERT_EQ(DbObjRemove(removed), 0u);

    restart();
    ASSERT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
    for (int i = 0; i < kObjects; ++i) {
        std::string name = "name" + std::to_string(i);
        UINT32 id = 0;
        if (i == 7) {
            EXPECT_EQ(open_status(name.c_str(), "r", &id), 1u);
        } else {
            EXPECT_EQ(db_get(name.c_str(), 100), contents_of(i)) << name;
        }
    }
    // The adopted pool goes on serving: replace, add and remove.
    UINT32 id = db_open("name3", "r+");
    EXPECT_EQ(DbObjWrite(id, std::string(500, 'r').data(), 500), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    db_put("after restart", "new");

    restart();
    ASSERT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
    EXPECT_EQ(db_get("after restart"), "new");
    EXPECT_EQ(db_get("name3", 600), std::string(500, 'r'));
}

TEST_F(DbRestartTest, RegionMappedElsewhereIsNotAdopted) {
    map();
    ASSERT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
    db_put("obj", "");
    ASSERT_EQ(DbDelete(0), 0u);
    sim::unmap_region(region_, kRestartSize);
    region_ = sim::map_file_region(path_, kRestartSize, kRestartBase + kRestartSize);
    ASSERT_NE(region_, nullptr);
    EXPECT_EQ(DbCreate(0, kRestartBase + kRestartSize, kRestartSize), 1u);
    sim::unmap_region(region_, kRestartSize);
    region_ = nullptr;
    map();
    EXPECT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
}

}  // namespace
}  // namespace bsp::test
