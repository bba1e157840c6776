// The HDLC channel service. Until the channel model is in place no channel opens.
#include <bsp_board.h>

extern "C" {

int hdlc_set_reconf_ch_data(UINT32, hdlc_reconf_op, hdlc_reconf_op) { return 0; }
int hdlc_open(UINT32, UINT32, UINT32, UINT32, UINT32, UINT32) { return -1; }
int hdlc_close(UINT32) { return -1; }
int hdlc_install_rx_callback(UINT32, hdlc_rx_handler) { return 0; }
int hdlc_data_ready(UINT32) { return 0; }
int hdlc_get_frame(UINT32, UINT8 *, UINT32, UINT32 *) { return -1; }
int hdlc_put_frame(UINT32, UINT8 *, UINT32, UINT32 *) { return -1; }

}  // extern "C"
