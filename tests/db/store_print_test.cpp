// The store printouts, compared with their exact text.
#include "db_fixture.h"
#include "support/capture.h"

namespace bsp::test {
namespace {

constexpr uintptr_t kPrintBase = 0x38001000;
constexpr UINT32 kPrintSize = 4096;

const std::string kRule(78, '-');

// What a printout writes to standard output (captured apart from the test's own output).
std::string printed(int (*print)(UINT32), UINT32 id, int expect_result = 0) {
    std::string text;
    {
        StdoutCapture out;
        int rc = print(id);
        text = out.text();
        if (rc != expect_result) {
            text += "<result " + std::to_string(rc) + ">";
        }
    }
    return text;
}

class StorePrintTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_NE(region_.base(), nullptr) << "address 0x38001000 is taken";
        ASSERT_EQ(st_init(&id_, kPrintBase, kPrintSize), 0);
    }

    void put(const Key &key, const std::string &data) {
        ASSERT_EQ(st_put_obj(id_, key.data(), data.data(), static_cast<UINT32>(data.size())), 0);
    }

    FixedRegion region_{kPrintBase, kPrintSize};
    UINT32 id_ = 0;
};

TEST_F(StorePrintTest, InfoShowsHeaderOfFreshStore) {
    EXPECT_EQ(
        printed(st_info, id_),
        kRule +
            "\n"
            "name      version    address      size     avail                              \n" +
            kRule +
            "\n"
            "store     1.0       00100038      4096      3824  \n" +
            kRule + "\n");
}

TEST_F(StorePrintTest, InfoShowsFreeBytesOfThePool) {
    put({1, 2, 3, 4}, std::string(100, 'x'));
    const auto *pool = reinterpret_cast<const MEM_POOL *>(kPrintBase + 24);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%8ld  \n", static_cast<long>(pool->pool_available));
    std::string text = printed(st_info, id_);
    EXPECT_LT(pool->pool_available, 3824u - 100u);
    EXPECT_NE(text.find(std::string("      4096  ") + expected), std::string::npos) << text;
}

TEST_F(StorePrintTest, DumpOfEmptyStoreHasNoRows) {
    EXPECT_EQ(
        printed(st_dump, id_),
        kRule +
            "\n"
            "key       attr    size  obj hex                           obj ascii           \n" +
            kRule + "\n" + kRule + "\n");
}

TEST_F(StorePrintTest, DumpListsObjectsInKeyOrderWithContinuationLines) {
    std::string sixteen;
    for (char c = '0'; c <= '?'; ++c) {
        sixteen += c;
    }
    put({0x20, 0, 0, 0}, sixteen);
    put({0x10, 0, 0, 0}, "A\nB");
    put({0x0a, 0x0b, 0x0c, 0x0d}, "");
    put({0x01, 0x02, 0x03, 0x04}, "ABCDEFGHIJKLMNOPQRST");
    put({0xff, 0, 0, 0}, std::string("\x80\xff\x7f\x20", 4));  // bytes outside ASCII: dots
    EXPECT_EQ(
        printed(st_dump, id_),
        kRule +
            "\n"
            "key       attr    size  obj hex                           obj ascii           \n" +
            kRule +
            "\n"
            "01020304  0000      20  4142434445464748494a4b4c4d4e4f50  ABCDEFGHIJKLMNOP    \n"
            "                        51525354                          QRST                \n"
            "0a0b0c0d  0000       0\n"
            "10000000  0000       3  410a42                            A.B                 \n"
            "20000000  0000      16  303132333435363738393a3b3c3d3e3f  0123456789:;<=>?    \n"
            "ff000000  0000       4  80ff7f20                          ...                 \n" +
            kRule + "\n");
}

TEST_F(StorePrintTest, StoreIdZeroPrintsNothing) {
    EXPECT_EQ(printed(st_info, 0, -1), "");
    EXPECT_EQ(printed(st_dump, 0, -1), "");
}

}  // namespace
}  // namespace bsp::test
