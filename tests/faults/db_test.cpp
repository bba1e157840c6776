// Fault matrix of the object database: create a database, then open, write and close an
// object in it.
#include <bsp_ctrl/db_api.h>

#include <bsp_sim/sim.h>

#include "matrix.h"

namespace bsp::test {
namespace {

class DbWriteCycle : public Operation {
  public:
    static constexpr size_t kSize = 64 * 1024;

    ~DbWriteCycle() override { sim::unmap_region(region_, kSize); }

    void prepare() override { region_ = sim::map_low_region(kSize); }

    long run() override {
        auto base = static_cast<UINT32>(reinterpret_cast<uintptr_t>(region_));
        if (UINT32 r = DbCreate(0, base, kSize); r != 0) {
            return r;
        }
        created_ = true;
        char name[] = "fault";
        char mode[] = "w";
        if (UINT32 r = DbObjOpen(0, &id_, name, mode); r != 0) {
            return r;
        }
        open_ = true;
        static const char data[] = "object contents";
        if (UINT32 r = DbObjWrite(id_, data, sizeof data); r != 0) {
            return r;
        }
        UINT32 r = DbObjClose(id_);
        open_ = r != 0;
        return r;
    }

    void undo() override {
        if (open_) {
            EXPECT_EQ(DbObjClose(id_), 0u);
            open_ = false;
        }
        if (created_) {
            EXPECT_EQ(DbDelete(0), 0u);
            created_ = false;
        }
    }

  private:
    void *region_ = nullptr;
    UINT32 id_ = 0;
    bool created_ = false;
    bool open_ = false;
};

class DbFaults : public FaultMatrix {};

BSP_FAULT_CASE(DbFaults, CreateOpenWriteClose, DbWriteCycle, "db");
BSP_FAULT_MATRIX(DbFaults);

}  // namespace
}  // namespace bsp::test
