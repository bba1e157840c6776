/* unit_app: the neighbours. The far-side processor talks over the PCI channel, one message
 * kind per device number:
 *   1  echo: the message comes back unchanged
 *   2  asset tag (text): stored in the inventory, answered with "asset tag stored" or
 *      "asset tag not stored: CODE"
 *   other devices are answered with "unknown device"
 * A craft terminal on the serial port sends text commands in frames: "version" is answered
 * with the software version, anything else with "unknown command". */
#include <bsp_ctrl/framer_api.h>
#include <bsp_ctrl/pcidev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "unit_app.h"

#define DEV_ECHO 1
#define DEV_ASSET_TAG 2
#define SERIAL_MSG_LEN 588 /* a received frame's buffer: the message, then zeros */

static unsigned pci_version;

static void answer(UINT32 dev, const char *text) {
    pci_send((UINT8 *)text, (UINT32)strlen(text), dev);
}

/* The PCI interrupt context: the bytes are valid during the call only, and anything slow
 * (an EEPROM write) goes to the main loop. */
static int on_pci_message(UINT8 *msg, UINT32 len, UINT32 dev) {
    if (dev == DEV_ECHO) {
        pci_send(msg, len, dev);
    } else if (dev == DEV_ASSET_TAG) {
        struct app_event event;
        memset(&event, 0, sizeof event);
        event.kind = APP_EVENT_ASSET_TAG;
        memcpy(event.tag, msg, len < APP_TAG_LEN ? len : APP_TAG_LEN);
        app_post(&event);
    } else {
        answer(dev, "unknown device");
    }
    return 0;
}

void peers_answer_asset_tag(int result) {
    char text[64];
    if (result == 0) {
        snprintf(text, sizeof text, "asset tag stored");
    } else {
        snprintf(text, sizeof text, "asset tag not stored: %d", result);
    }
    answer(DEV_ASSET_TAG, text);
}

/* The serial framer's receive task; the buffer is ours to free. */
static void on_serial_frame(UINT8 *msg) {
    char reply[64];
    if (strncmp((const char *)msg, "version", SERIAL_MSG_LEN) == 0) {
        snprintf(reply, sizeof reply, "version 0x%08x", pci_version);
    } else {
        snprintf(reply, sizeof reply, "unknown command");
    }
    free(msg);
    FramerWrite((UINT8 *)reply, (UINT32)strlen(reply));
}

int peers_start(const struct app_config *config) {
    pci_version = config->pci_version;
    init_pci();
    enable_pci();
    pci_install_rx_callback(on_pci_message);
    if (pci_open(config->pci_version) != 0) {
        fprintf(stderr, "unit_app: no PCI channel\n");
        return -1;
    }
    toggle_pci_ready(); /* tells the far side that we listen */
    if (FramerCreate(0) != 0 || FramerOpen(on_serial_frame, config->serial_baud) != 0) {
        fprintf(stderr, "unit_app: no serial framer\n");
        return -1;
    }
    return 0;
}

/* The serial port goes back to the login console. */
void peers_stop(void) {
    pci_close();
    FramerClose();
    FramerDelete();
}
