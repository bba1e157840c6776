// The host-service records have the layout that the library and every host rely on: the
// library reads them in memory the host owns, so a change on either side is caught here, at
// compile time, on every target the suite is built for.
#include <bsp_ctrl/platform/bsp_board.h>
#include <bsp_ctrl/platform/bsp_os.h>

#include <cstddef>

static_assert(sizeof(MEM_POOL) == 24, "the pool record is six 32-bit words");
static_assert(sizeof(MEM_HEADER) == 16, "the block header is four 32-bit words");
static_assert(offsetof(MEM_POOL, memory_search) == 20);

static_assert(offsetof(kvu_hal_board_t, max_hw_port) == 0);
static_assert(offsetof(kvu_hal_board_t, lan_ports) == 16);
static_assert(offsetof(kvu_hal_board_t, wan_ports) == 20);
static_assert(offsetof(kvu_hal_board_t, sfp_ports) == 24);
static_assert(offsetof(kvu_hal_board_t, enabled_ports) == 28);
static_assert(offsetof(kvu_hal_board_t, hw_port_of_entry) == 32);
static_assert(offsetof(kvu_hal_board_t, entry_of_hw_port) == 44);
static_assert(offsetof(kvu_hal_board_t, mii_addr_of_entry) == 60);
static_assert(offsetof(kvu_hal_board_t, lan_port_of_entry) == 72);
static_assert(offsetof(kvu_hal_board_t, seis_link_of_entry) == 84);
static_assert(offsetof(kvu_hal_board_t, cp_num_of_entry) == 96);
static_assert(sizeof(kvu_hal_board_t) == 108);

static_assert(sizeof(NU_SEMAPHORE) > 0 && sizeof(NU_TIMER) > 0 && sizeof(NU_TASK) > 0);
static_assert(sizeof(STATUS) == 4 && sizeof(UNSIGNED) == 4);
