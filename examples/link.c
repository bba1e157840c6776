/* unit_app: link events of the Ethernet ports. The MAC/SFP driver reports them from its own
 * thread; the main loop logs them with the SFP cage's module type from the port layer.
 * (This application does not start 1588, whose control takes over the driver's event
 * callback.) */
#include <bsp_ctrl/ehsl_port.h>
#include <bsp_ctrl/platform/bsp_board.h>
#include <stdio.h>
#include <string.h>

#include "unit_app.h"

#define SFP_LAN_PORT 3 /* the SFP cage is LAN port 3 of this board */

static int on_link_event(int port, int status, unsigned int speed) {
    struct app_event event;
    memset(&event, 0, sizeof event);
    event.kind = APP_EVENT_LINK;
    event.port = port;
    event.up = status;
    event.speed = speed;
    app_post(&event);
    return 0;
}

static const char *module_name(sfp_hw_t type) {
    switch (type) {
        case SFP_NO_SFP:
            return "none";
        case SFP_COPPER:
            return "copper";
        case SFP_FIBER:
            return "fibre";
        case SFP_ERROR:
            return "error";
        default:
            return "unknown";
    }
}

void link_log(const struct app_event *event) {
    const char *module = module_name(sfp_port_hw_status(SFP_LAN_PORT));
    if (event->up) {
        printf("link: port %d up at %u Mbit/s, SFP module %s\n", event->port, event->speed, module);
    } else {
        printf("link: port %d down, SFP module %s\n", event->port, module);
    }
}

void link_start(void) {
    eth_ctrl_emac_sfp_ecpsLinkEvent_install(on_link_event);
    ehsl_port_init(); /* starts the MAC/SFP driver */
}

void link_stop(void) {
    eth_ctrl_emac_sfp_ecpsLinkEvent_install(NULL);
}
