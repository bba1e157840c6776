// The database API: creation, open modes, read/write/close/remove, ids that name no live
// record, OS failures injected in the simulated host, objects kept across a restart, and
// several threads on one object or deleting the database while object calls run.
#include <atomic>
#include <chrono>
#include <thread>

#include "db_fixture.h"

namespace bsp::test {
namespace {

// Semaphores called `name`, or with `waiters` the threads suspended on them.
int semaphores_named(const char *name, bool waiters = false) {
    int n = 0;
    for (const auto &s : sim::semaphores()) {
        n += s.name == name ? (waiters ? s.waiters : 1) : 0;
    }
    return n;
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

// "w" creates an empty object (a read copies nothing) or empties a stored one; "r+" keeps it;
// a write replaces the whole object.
TEST_F(DbTest, OpenWithModeWCreatesOrEmptiesAndRPlusKeeps) {
    UINT32 id = open("fresh", "w");
    UINT32 other = open("obj", "w+");
    EXPECT_NE(id, other);
    EXPECT_EQ(DbObjWrite(other, "a long first value", 18), 0u);
    EXPECT_EQ(DbObjWrite(other, "contents", 8), 0u);
    EXPECT_EQ(DbObjClose(other), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    id = open("fresh", "r");
    char buf[4] = {'-', '-', '-', '-'};
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 0u);
    EXPECT_EQ(buf[0], '-');
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_EQ(DbObjClose(open("obj", "r+")), 0u);
    EXPECT_EQ(get("obj", 32), "contents");
    EXPECT_EQ(DbObjClose(open("obj", "w+")), 0u);
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
    EXPECT_EQ(snapshot(), before);  // only the cursor might move, and the store is empty
}

TEST_F(DbTest, WriteWithoutRoomFailsAndKeepsContents) {
    put("obj", "keep");
    UINT32 id = open("obj", "r+");
    std::string huge(kRegionSize, 'x');
    EXPECT_EQ(DbObjWrite(id, huge.data(), static_cast<UINT32>(huge.size())), 1u);
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_EQ(get("obj"), "keep");
}

TEST_F(DbTest, RemoveDeletesTheObjectAndFreesTheHandleEvenWhenNoLongerStored) {
    put("gone", "x");
    UINT32 id = open("gone", "r");
    EXPECT_EQ(DbObjRemove(id), 0u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    UINT32 again = 0;
    EXPECT_EQ(open_status("gone", "r", &again), 1u);
    EXPECT_EQ(DbObjClose(id), 1u);
    id = open("obj", "w");
    ASSERT_EQ(st_del_obj(base(), key_of("obj").data()), 0);
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

TEST_F(DbTest, CreateMakesTwoSemaphoresAndFailingOnOneLeavesNothingCreated) {
    EXPECT_EQ(DbInstall(), 0u);
    EXPECT_EQ(DbUninstall(), 0u);
    EXPECT_EQ(semaphores_named("DB_SEM") + semaphores_named("DB_OBJ_SEM"), 2);
    ASSERT_EQ(DbDelete(0), 0u);
    for (unsigned nth : {1u, 2u}) {
        fail_nth(sim::FaultOp::SemCreate, nth);
        EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
        sim::clear_faults();
        EXPECT_TRUE(sim::semaphores().empty());
        UINT32 id = 0;
        EXPECT_EQ(open_status("a", "w", &id), 1u);
    }
}

class OpenFaultTest : public DbTest,
                      public ::testing::WithParamInterface<std::pair<sim::FaultOp, unsigned>> {};

// An open obtains DB_OBJ_SEM, then the object semaphore it has just created.
TEST_P(OpenFaultTest, FailedOpenLeavesNoHandleNoUserAndNothingHeld) {
    fail_nth(GetParam().first, GetParam().second);
    UINT32 id = 0;
    EXPECT_EQ(open_status("a", "w", &id), 1u);
    EXPECT_EQ(semaphores_named("OBJ_SEM"), 0);
    EXPECT_TRUE(sim::held_semaphores().empty());
    expect_nothing_open();
}

INSTANTIATE_TEST_SUITE_P(Steps, OpenFaultTest,
                         ::testing::Values(std::pair{sim::FaultOp::SemCreate, 1u},
                                           std::pair{sim::FaultOp::SemObtain, 2u}));

TEST_F(DbTest, ReadFailingToObtainTheStoreSemaphoreReturns1) {
    put("obj", "abc");
    UINT32 id = open("obj", "r");
    auto held = sim::held_semaphores();  // between calls the holder keeps only its object's
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].name, "OBJ_SEM");
    // Obtains of a read: DB_OBJ_SEM (the id), then DB_SEM (fails).
    fail_nth(sim::FaultOp::SemObtain, 2);
    char buf[4];
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 1u);
    EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 0u);
    EXPECT_EQ(DbObjClose(id), 0u);
    EXPECT_TRUE(sim::held_semaphores().empty());
}

// Mapped again at the same address after a restart, the region is adopted with every object
// and its pool goes on serving.
TEST_F(DbTest, ObjectsSurviveARestart) {
    std::string replaced = "short";
    put("kept", "object");
    put("replaced", replaced);
    put("removed", "x");
    ASSERT_EQ(DbObjRemove(open("removed", "r")), 0u);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(DbDelete(0), 0u);
        restart();
        ASSERT_EQ(DbCreate(0, kBase, kRegionSize), 0u);
        EXPECT_EQ(get("kept"), "object");
        EXPECT_EQ(get("replaced", 600), replaced);
        UINT32 id = 0;
        EXPECT_EQ(open_status("removed", "r", &id), 1u);
        replaced = std::string(500, 'r');
        put("replaced", replaced);
    }
}

TEST_F(DbTest, SecondOpenerWaitsUntilTheFirstCloses) {
    put("shared", "first");
    UINT32 first = open("shared", "r+");
    std::atomic<bool> opened{false};
    UINT32 second = 0;
    std::thread t([&] {
        EXPECT_EQ(open_status("shared", "w", &second), 0u);
        opened = true;
    });
    ASSERT_TRUE(wait_until([] { return semaphores_named("OBJ_SEM", true) == 1; }));
    EXPECT_FALSE(opened);
    ASSERT_EQ(DbObjWrite(first, "by first", 8), 0u);
    ASSERT_EQ(DbObjClose(first), 0u);
    t.join();
    EXPECT_EQ(second, first);
    // The second opener's mode ("w") applies now: emptied, write-only.
    char buf[8];
    EXPECT_EQ(DbObjRead(second, buf, sizeof buf), 1u);
    EXPECT_EQ(DbObjWrite(second, "second", 6), 0u);
    EXPECT_EQ(DbObjClose(second), 0u);
    EXPECT_EQ(get("shared"), "second");
}

// While an opener waits, a remove and a delete of the database are refused at once.
TEST_F(DbTest, RemoveOrDeleteWhileAnotherWaitsIsRefusedAndTheWaiterIsServed) {
    put("shared", "stay");
    UINT32 holder = open("shared", "r");
    std::thread t([&] {
        UINT32 id = 0;
        EXPECT_EQ(open_status("shared", "r", &id), 0u);
        char buf[8] = {};
        EXPECT_EQ(DbObjRead(id, buf, sizeof buf), 0u);
        EXPECT_STREQ(buf, "stay");
        EXPECT_EQ(DbObjClose(id), 0u);
    });
    ASSERT_TRUE(wait_until([] { return semaphores_named("OBJ_SEM", true) == 1; }));
    EXPECT_EQ(DbObjRemove(holder), 1u);
    EXPECT_EQ(DbDelete(0), 1u);
    EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
    EXPECT_EQ(DbObjClose(holder), 0u);
    t.join();
    EXPECT_EQ(get("shared"), "stay");
    expect_nothing_open();
}

// Workers use objects of their own while the test deletes and creates the database again
// over the same region. A delete is refused while an object is open, so whatever an open
// returned, the calls on its id succeed and read back what was written; under
// ThreadSanitizer the record rewrites must not race with the object calls.
TEST_F(DbTest, DeleteAndCreateAgainWhileObjectCallsRunKeepEveryOpenObjectWhole) {
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0}, broken{0};
    auto worker = [&](std::string name) {
        for (UINT32 round = 0, id = 0, back = 0; !stop; ++round) {
            // A pause with nothing open, so that deletes find moments to come through.
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            if (open_status(name.c_str(), "w+", &id) == 0) {
                ++opened;
                broken += DbObjWrite(id, &round, 4) + DbObjRead(id, &back, 4) + DbObjClose(id);
                broken += back != round || DbObjRead(id, &back, 4) != 1;  // closed: refused
            }
        }
    };
    std::thread a(worker, "a"), b(worker, "b");
    int deleted = 0;
    bool recreated = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (recreated && (deleted < 20 || opened < 100) &&
           std::chrono::steady_clock::now() < deadline) {
        if (DbDelete(0) == 0) {
            ++deleted;
            recreated = DbCreate(0, base(), kRegionSize) == 0;
        }
        std::this_thread::yield();
    }
    stop = true;
    a.join();
    b.join();
    EXPECT_TRUE(recreated) << "after delete " << deleted;
    EXPECT_GE(opened, 100);
    EXPECT_EQ(broken, 0);
    EXPECT_GE(deleted, 20);
    EXPECT_TRUE(sim::held_semaphores().empty());
    EXPECT_EQ(sim::semaphores().size(), 2u) << "every object record was freed";
}

}  // namespace
}  // namespace bsp::test
