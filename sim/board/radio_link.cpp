// The radio-link driver's compensation-shift notification. Until the radio model is in
// place the callback is accepted and never called.
#include <bsp_board.h>

extern "C" int RLBSP_1588_ecps_compensation_shift_install(rlbsp_comp_shift_cb) { return 0; }
