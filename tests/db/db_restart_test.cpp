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
    UINT32 open(const std::string &name, const char *mode) {
        UINT32 id = 0;
        EXPECT_EQ(DbObjOpen(0, &id, const_cast<char *>(name.c_str()), const_cast<char *>(mode)), 0u)
            << name;
        return id;
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
        UINT32 id = open("name" + std::to_string(i), "w");
        std::string c = contents_of(i);
        ASSERT_EQ(DbObjWrite(id, c.data(), static_cast<UINT32>(c.size())), 0u);
        ASSERT_EQ(DbObjClose(id), 0u);
    }
    UINT32 removed = open("name7", "r");
    ASSERT_EQ(DbObjRemove(removed), 0u);

    restart();
    ASSERT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
    for (int i = 0; i < kObjects; ++i) {
        std::string name = "name" + std::to_string(i);
        UINT32 id = 0;
        UINT32 rc = DbObjOpen(0, &id, name.data(), const_cast<char *>("r"));
        if (i == 7) {
            EXPECT_EQ(rc, 1u);
            continue;
        }
        ASSERT_EQ(rc, 0u) << name;
        std::string want = contents_of(i);
        std::string got(want.size() + 8, '\0');
        EXPECT_EQ(DbObjRead(id, got.data(), static_cast<UINT32>(got.size())), 0u);
        EXPECT_EQ(got, want + std::string(8, '\0')) << name;
        EXPECT_EQ(DbObjClose(id), 0u);
    }
    // The adopted pool goes on serving: replace, add and remove.
    UINT32 id = open("name3", "r+");
    EXPECT_EQ(DbObjWrite(id, std::string(500, 'r').data(), 500), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    id = open("after restart", "w");
    EXPECT_EQ(DbObjWrite(id, "new", 3), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);

    restart();
    ASSERT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
    id = open("after restart", "r");
    char buf[4] = {};
    EXPECT_EQ(DbObjRead(id, buf, 3), 0u);
    EXPECT_STREQ(buf, "new");
    EXPECT_EQ(DbObjClose(id), 0u);
}

TEST_F(DbRestartTest, RegionMappedElsewhereIsNotAdopted) {
    map();
    ASSERT_EQ(DbCreate(0, kRestartBase, kRestartSize), 0u);
    UINT32 id = open("obj", "w");
    ASSERT_EQ(DbObjClose(id), 0u);
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
