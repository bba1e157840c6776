// The database API from several threads: one holder per object, waiting openers, removal
// while another waits, many threads writing without losing a write, and databases deleted
// and created again while object calls run.
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "db_fixture.h"

namespace bsp::test {
namespace {

// Waiters suspended on the semaphore(s) called `name`.
int waiters_on(const char *name) {
    int n = 0;
    for (const auto &s : sim::semaphores()) {
        n += s.name == name ? s.waiters : 0;
    }
    return n;
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
    ASSERT_TRUE(wait_until([] { return waiters_on("OBJ_SEM") == 1; }));
    EXPECT_FALSE(opened);
    ASSERT_EQ(DbObjWrite(first, "by first", 8), 0u);
    ASSERT_EQ(DbObjClose(first), 0u);
    t.join();
    EXPECT_TRUE(opened);
    EXPECT_EQ(second, first);
    // The second opener's mode ("w") applies now: emptied, write-only.
    char buf[8];
    EXPECT_EQ(DbObjRead(second, buf, sizeof buf), 1u);
    EXPECT_EQ(DbObjWrite(second, "second", 6), 0u);
    EXPECT_EQ(DbObjClose(second), 0u);
    EXPECT_EQ(get("shared"), "second");
}

TEST_F(DbTest, RemoveWhileAnotherWaitsReturns1AndRemovesNothing) {
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
    ASSERT_TRUE(wait_until([] { return waiters_on("OBJ_SEM") == 1; }));
    EXPECT_EQ(DbObjRemove(holder), 1u);
    EXPECT_EQ(DbObjClose(holder), 0u);
    t.join();
    EXPECT_EQ(get("shared"), "stay");
}

TEST_F(DbTest, OpenersOfDifferentNamesDoNotWaitForEachOther) {
    UINT32 a = open("a", "w");
    std::thread t([&] {
        UINT32 b = 0;
        EXPECT_EQ(open_status("b", "w", &b), 0u);
        EXPECT_EQ(DbObjWrite(b, "b", 1), 0u);
        EXPECT_EQ(DbObjClose(b), 0u);
    });
    t.join();  // would hang if "b" waited for "a"
    EXPECT_EQ(DbObjClose(a), 0u);
}

// Each thread adds 1 to counters kept in objects, some shared by all threads and one of its
// own, through open "r+", read, write, close. A lost write shows as a short count.
TEST_F(DbTest, ManyThreadsReadAndWriteWithoutLosingAWrite) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 150;
    const std::vector<std::string> shared = {"s0", "s1", "s2"};
    auto names_of = [&](int t) {
        std::vector<std::string> names = shared;
        names.push_back("own" + std::to_string(t));
        return names;
    };
    for (int t = 0; t < kThreads; ++t) {
        for (const auto &n : names_of(t)) {
            UINT32 zero = 0;
            put(n.c_str(), std::string(reinterpret_cast<char *>(&zero), 4));
        }
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto names = names_of(t);
            for (int r = 0; r < kRounds; ++r) {
                const std::string &n = names[static_cast<size_t>(r + t) % names.size()];
                UINT32 id = 0;
                UINT32 count = 0;
                int bad = open_status(n.c_str(), "r+", &id) != 0;
                bad += DbObjRead(id, &count, 4) != 0;
                ++count;
                bad += DbObjWrite(id, &count, 4) != 0;
                bad += DbObjClose(id) != 0;
                failures += bad;
            }
        });
    }
    for (auto &t : threads) {
        t.join();
    }
    EXPECT_EQ(failures, 0);
    std::map<std::string, UINT32> expected;
    for (int t = 0; t < kThreads; ++t) {
        auto names = names_of(t);
        for (int r = 0; r < kRounds; ++r) {
            ++expected[names[static_cast<size_t>(r + t) % names.size()]];
        }
    }
    for (const auto &[name, want] : expected) {
        UINT32 id = open(name.c_str(), "r");
        UINT32 count = 0;
        EXPECT_EQ(DbObjRead(id, &count, 4), 0u);
        EXPECT_EQ(DbObjClose(id), 0u);
        EXPECT_EQ(count, want) << name;
    }
    EXPECT_EQ(sim::semaphores().size(), 2u) << "every object record was freed";
}

TEST_F(DbTest, DeleteWhileAnOpenerWaitsIsRefusedAtOnceAndServesAfterwards) {
    UINT32 holder = open("x", "w");
    std::thread t([&] {
        UINT32 id = 0;
        EXPECT_EQ(open_status("x", "r", &id), 0u);
        EXPECT_EQ(DbObjClose(id), 0u);
    });
    ASSERT_TRUE(wait_until([] { return waiters_on("OBJ_SEM") == 1; }));
    EXPECT_EQ(DbDelete(0), 1u);  // returns although the opener still waits
    EXPECT_EQ(DbCreate(0, base(), kRegionSize), 1u);
    EXPECT_EQ(DbObjClose(holder), 0u);
    t.join();
    expect_nothing_open();
}

// Workers use objects of their own while another thread deletes and creates the database
// again over the same region. A delete is refused while an object is open, so whatever an
// open returned, the calls on its id succeed and read back what was written; under
// ThreadSanitizer the record rewrites must not race with the object calls.
TEST_F(DbTest, DeleteAndCreateAgainWhileObjectCallsRunKeepEveryOpenObjectWhole) {
    constexpr int kWorkers = 3;
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0};
    std::atomic<int> broken{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            std::string name = "own" + std::to_string(w);
            for (UINT32 round = 0; !stop; ++round) {
                // A pause with nothing open, so that deletes find moments to come through.
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                UINT32 id = 0;
                if (open_status(name.c_str(), "w+", &id) != 0) {
                    continue;
                }
                ++opened;
                UINT32 back = ~round;
                broken += DbObjWrite(id, &round, 4) != 0;
                broken += DbObjRead(id, &back, 4) != 0 || back != round;
                broken += DbObjClose(id) != 0;
                broken += DbObjRead(id, &back, 4) != 1;  // a closed id is refused
            }
        });
    }
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
    for (auto &t : workers) {
        t.join();
    }
    EXPECT_TRUE(recreated) << "after delete " << deleted;
    EXPECT_GE(opened, 100);
    EXPECT_EQ(broken, 0);
    EXPECT_GE(deleted, 20);
    EXPECT_TRUE(sim::held_semaphores().empty());
    EXPECT_EQ(sim::semaphores().size(), 2u) << "every object record was freed";
}

}  // namespace
}  // namespace bsp::test
