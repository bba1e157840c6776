// The unit shell's OS_Init_Driver. The PCI window's driver belongs to the unit's own OS layer,
// which a plain Linux unit lacks: every attach is refused, so the PCI channel stays closed and
// says so in its log rather than touching a window that is not there.
#include <bsp_ctrl/platform/bsp_os.h>

extern "C" INT OS_Init_Driver(CHAR *, CHAR *, UNSIGNED, UNSIGNED, UNSIGNED, UNSIGNED, UNSIGNED,
                              OS_INTERRUPT_ENTRY, void **) {
    return -1;
}
