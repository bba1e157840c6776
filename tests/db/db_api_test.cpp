// The database API in one thread: creation, open modes, read/write/close/remove, ids that
// name no live record, and OS failures injected in the simulated host.
#include "db_fixture.h"

namespace bsp::test {
namespace {

int semaphores_named(const char *name) {
    int n = 0;
    for (const auto &s : sim::semaphores()) {
        n += s.name == name;
    }
    return n;
}

TEST_F(DbTest, CreateMakesTheDatabaseSemaphoresAndInstallDoesNothing) {
    EXPECT_EQ(DbInstall(), 0u);
    EXPECT_EQ(DbUninstall(), 0u);
    EXPECT_EQ(semaphores_named("DB_SEM"), 1);
    EXPECT_EQ(semaphores_named("DB_OBJ_SEM"), 1);
    EXPECT_TRUE(sim::held_semaphores().empty());
}

TEST_F(DbTest, OnlyIdsZeroAndOneExist) {
    UINT8 *other = static_cast<UINT8 *>(sim::map_low_region(kRegionSize));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(DbCreate(2, addr32(other), kRegionSize), 1u);
    ASSERT_EQ(DbCreate(1, addr32(other), kRegionSize), 0u);
    put("same", "in zero", 0);
    put("same", "in one", 1);
    EXPECT_EQ(get("same", 64, 0), "in zero");
    EXPECT_EQ(get("same", 64, 1), "in one");
    EXPECT_EQ(DbDelete(1), 0u);
    EXPECT_EQ(DbDelete(2), 1u);
    sim::unmap_region(other, kRegionSize);
}

// "w" creates an empty object (a read copies nothing) or empties a stored one; "r+" keeps it.
TEST_F(DbTest, OpenWithModeWCreatesOrEmptiesAndRPlusKeeps) {
    UINT32 id = open("fresh", "w");
    UINT32 other = open("obj", "w");
    EXPECT_NE(id, other);
    EXPECT_EQ(DbObjWrite(other, "contents", 8), 0u);
    EXPECT_EQ(DbObjClose(other), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    id = open("fresh", "r");
    char buf[4] = {'-', '-', '-', '-'};
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 0u);
    EXPECT_EQ(buf[0], '-');
    EXPECT_EQ(DbObjClose(id), 0u);
    id = open("obj", "r+");
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_EQ(get("obj"), "contents");
    id = open("obj", "w+");
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_EQ(get("obj"), "");
}

struct ModeCase {
    const char *mode;
    bool accepted;      // on a stored object
    bool read = false;  // what the handle then allows
    bool write = false;
};

class OpenModeTest : public DbTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(OpenModeTest, ModeStringIsComparedOverTwoCharactersAndRulesReadAndWrite) {
    const ModeCase &c = GetParam();
    put("obj", "abc");
    UINT32 id = 1234;
    EXPECT_EQ(open_status("obj", c.mode, &id), c.accepted ? 0u : 1u);
    if (c.accepted) {
        char buf[4];
        EXPECT_EQ(DbObjRead(id, buf, sizeof buf), c.read ? 0u : 1u);
        EXPECT_EQ(DbObjWrite(id, "xyz", 3), c.write ? 0u : 1u);
        EXPECT_EQ(DbObjClose(id), 0u);
    } else {
        EXPECT_EQ(id, 1234u);
    }
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0) << "no handle stays listed";
    EXPECT_TRUE(sim::held_semaphores().empty());
    expect_nothing_open();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OpenModeTest,
    ::testing::Values(ModeCase{"r", true, true, false}, ModeCase{"w", true, false, true},
                      ModeCase{"r+", true, true, true}, ModeCase{"w+", true, true, true},
                      ModeCase{"r+b", true, true, true}, ModeCase{"w+x", true, true, true},
                      ModeCase{"rb", false}, ModeCase{"wb", false}, ModeCase{"a", false},
                      ModeCase{"", false}, ModeCase{"+", false}, ModeCase{"R", false}));

TEST_F(DbTest, ReadOpenOfMissingNameFailsAndChangesNothing) {
    auto before = snapshot();
    UINT32 id = 0;
    EXPECT_EQ(open_status("missing", "r", &id), 1u);
    EXPECT_EQ(open_status("missing", "r+", &id), 1u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    // Only the search cursor may move; the store is empty, so nothing does.
    EXPECT_EQ(snapshot(), before);
}

TEST_F(DbTest, WriteReplacesTheWholeObject) {
    UINT32 id = open("obj", "w+");
    ASSERT_EQ(DbObjWrite(id, "a long first value", 18), 0u);
    ASSERT_EQ(DbObjWrite(id, "short", 5), 0u);
    std::string buf(32, '\0');
    ASSERT_EQ(DbObjRead(id, buf.data(), 32), 0u);
    EXPECT_EQ(buf, "short" + std::string(27, '\0'));
    EXPECT_EQ(DbObjClose(id), 0u);
}

TEST_F(DbTest, WriteWithoutRoomFailsAndKeepsContents) {
    put("obj", "keep");
    UINT32 id = open("obj", "r+");
    std::string huge(kRegionSize, 'x');
    EXPECT_EQ(DbObjWrite(id, huge.data(), static_cast<UINT32>(huge.size())), 1u);
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_EQ(get("obj"), "keep");
}

TEST_F(DbTest, RemoveDeletesTheObjectAndFreesTheHandle) {
    put("gone", "x");
    UINT32 id = open("gone", "r");
    EXPECT_EQ(DbObjRemove(id), 0u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    UINT32 again = 0;
    EXPECT_EQ(open_status("gone", "r", &again), 1u);
    EXPECT_EQ(DbObjClose(id), 1u);
}

TEST_F(DbTest, RemoveOfObjectNoLongerStoredReturns1AndClosesTheHandle) {
    UINT32 id = open("obj", "w");
    Key key = key_of("obj");
    ASSERT_EQ(st_del_obj(base(), key.data()), 0);
    EXPECT_EQ(DbObjRemove(id), 1u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    expect_nothing_open();
}

TEST_F(DbTest, ClosedAndForgedIdsAreRefusedByEveryOperation) {
    UINT32 closed = open("obj", "w+");
    ASSERT_EQ(DbObjClose(closed), 0u);
    UINT32 live = open("other", "w+");
    char buf[4];
    for (UINT32 id :
         {closed, 0u, 1u, 0xFFFFFFFFu, live ^ 2u, live + 2u, addr32(&buf) /* any address */}) {
        EXPECT_EQ(DbObjClose(id), 1u) << id;
        EXPECT_EQ(DbObjRead(id, buf, 4), 1u) << id;
        EXPECT_EQ(DbObjWrite(id, buf, 4), 1u) << id;
        EXPECT_EQ(DbObjRemove(id), 1u) << id;
    }
    EXPECT_EQ(DbObjClose(live), 0u);
}

TEST_F(DbTest, NullArgumentsAreRefused) {
    UINT32 id = 0;
    EXPECT_EQ(open_status("a", "w", nullptr), 1u);
    EXPECT_EQ(open_status(nullptr, "w", &id), 1u);
    EXPECT_EQ(open_status("a", nullptr, &id), 1u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    id = open("a", "w+");
    EXPECT_EQ(DbObjRead(id, nullptr, 4), 1u);
    EXPECT_EQ(DbObjWrite(id, nullptr, 4), 1u);
    EXPECT_EQ(DbObjRead(id, nullptr, 0), 0u);
    EXPECT_EQ(DbObjWrite(id, nullptr, 0), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
}

TEST_F(DbTest, OperationsOnADatabaseNotCreatedFail) {
    UINT32 id = 0;
    EXPECT_EQ(open_status("a", "w", &id, 1), 1u);
    EXPECT_EQ(DbDelete(1), 1u);
    ASSERT_EQ(DbDelete(0), 0u);
    EXPECT_EQ(open_status("a", "w", &id), 1u);
    EXPECT_EQ(DbDelete(0), 1u);
    ASSERT_EQ(DbCreate(0, base(), kRegionSize), 0u);
}

TEST_F(DbTest, DeleteAndCreateAgainWaitUntilNoObjectIsOpen) {
    UINT32 id = open("held", "w");
    EXPECT_EQ(DbDelete(0), 1u);
    EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
    EXPECT_EQ(DbObjWrite(id, "still usable", 12), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_EQ(DbCreate(0, base(), kRegionSize), 0u);
    EXPECT_EQ(semaphores_named("DB_SEM"), 1);
    EXPECT_EQ(get("held"), "still usable");
}

TEST_F(DbTest, CreateFailingOnASemaphoreLeavesNothingCreated) {
    ASSERT_EQ(DbDelete(0), 0u);
    for (unsigned nth : {1u, 2u}) {
        fail_nth(sim::FaultOp::SemCreate, nth);
        EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
        sim::clear_faults();
        EXPECT_TRUE(sim::semaphores().empty());
        UINT32 id = 0;
        EXPECT_EQ(open_status("a", "w", &id), 1u);
    }
    ASSERT_EQ(DbCreate(0, base(), kRegionSize), 0u);
}

struct OpenFault {
    const char *name;
    sim::FaultOp op;
    unsigned nth;
};

class OpenFaultTest : public DbTest, public ::testing::WithParamInterface<OpenFault> {};

TEST_P(OpenFaultTest, FailedOpenLeavesNoHandleNoUserAndNothingHeld) {
    fail_nth(GetParam().op, GetParam().nth);
    UINT32 id = 0;
    EXPECT_EQ(open_status("a", "w", &id), 1u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    EXPECT_TRUE(sim::held_semaphores().empty());
    expect_nothing_open();
}

// An open obtains DB_OBJ_SEM, then the object semaphore it has just created.
INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFaultTest,
    ::testing::Values(OpenFault{"CreatingTheObjectSemaphore", sim::FaultOp::SemCreate, 1},
                      OpenFault{"ObtainingTheObjectSemaphore", sim::FaultOp::SemObtain, 2}),
    [](const ::testing::TestParamInfo<OpenFault> &param_info) {
        return std::string(param_info.param.name);
    });

TEST_F(DbTest, ReadFailingToObtainTheStoreSemaphoreReturns1) {
    put("obj", "abc");
    UINT32 id = open("obj", "r");
    // Obtains of a read: DB_OBJ_SEM (the id), then DB_SEM (fails).
    fail_nth(sim::FaultOp::SemObtain, 2);
    char buf[4];
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 1u);
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
}

TEST_F(DbTest, HolderKeepsOnlyTheObjectSemaphoreBetweenCalls) {
    UINT32 id = open("obj", "w");
    auto held = sim::held_semaphores();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].name, "OBJ_SEM");
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_TRUE(sim::held_semaphores().empty());
}

}  // namespace
}  // namespace bsp::test
