/* unit_app: the inventory, area 1 of the EEPROM's layout with two text items of 16 bytes:
 * the serial number (written in production) and the asset tag (set by the far side). */
#include <bsp_ctrl/e2prom.h>
#include <stdio.h>
#include <string.h>

#include "unit_app.h"

#define AREA 1
#define AREA_SIZE 1024
#define ITEM_SERIAL_NUMBER 1
#define ITEM_ASSET_TAG 2
#define NO_HEADER (-2)   /* e2prom_header_read: a blank EEPROM */
#define NO_AREA (-7)     /* the area is not in the header */
#define NO_ITEM (-12)    /* the item is not in the area */
#define READ_BACK (-100) /* our own: the item reads back other bytes than were written */

/* A blank EEPROM (a fresh simulated unit) gets the empty header and the inventory area. */
static int lay_out(void) {
    UINT8 header[64];
    UINT16 size = 0;
    int rc = e2prom_header_read(header);
    if (rc == NO_HEADER) {
        printf("inventory: blank EEPROM, laying out the inventory area\n");
        rc = e2prom_init();
    }
    if (rc == 0 && e2prom_get_area_header_size(AREA, &size) == NO_AREA) {
        rc = e2prom_area_init(AREA, AREA_SIZE);
    }
    return rc;
}

static void print_item(const char *name, UINT16 id) {
    UINT8 field[APP_TAG_LEN + 1] = {0};
    UINT16 size = 0;
    int rc = e2prom_get_data_size(AREA, id, &size);
    if (rc == 0 && size != APP_TAG_LEN) {
        rc = READ_BACK;
    }
    if (rc == 0) {
        rc = e2prom_data_read(AREA, id, field);
    }
    if (rc == 0) {
        printf("inventory: %s %s\n", name, (char *)field);
    } else {
        printf("inventory: %s %s\n", name, rc == NO_ITEM ? "not set" : "unreadable");
    }
}

void inventory_start(void) {
    int rc = lay_out();
    if (rc != 0) {
        printf("inventory: EEPROM layout error %d\n", rc);
        return;
    }
    print_item("serial number", ITEM_SERIAL_NUMBER);
    print_item("asset tag", ITEM_ASSET_TAG);
}

/* A write can be torn (power lost in the EEPROM's write cycle): only a read-back that
 * matches counts as stored. */
int inventory_store_asset_tag(const char *tag) {
    UINT8 field[APP_TAG_LEN] = {0};
    UINT8 back[APP_TAG_LEN] = {0};
    memcpy(field, tag, strlen(tag) < APP_TAG_LEN ? strlen(tag) : APP_TAG_LEN);
    int rc = e2prom_data_write(AREA, ITEM_ASSET_TAG, APP_TAG_LEN, field);
    if (rc == 0) {
        rc = e2prom_data_read(AREA, ITEM_ASSET_TAG, back);
    }
    if (rc == 0 && memcmp(field, back, APP_TAG_LEN) != 0) {
        rc = READ_BACK;
    }
    if (rc == 0) {
        printf("inventory: asset tag %s stored\n", tag);
    } else {
        printf("inventory: asset tag %s not stored (%d)\n", tag, rc);
    }
    return rc;
}
