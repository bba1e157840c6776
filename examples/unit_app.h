/* unit_app: what the parts of the application share. */
#ifndef UNIT_APP_H
#define UNIT_APP_H

#include <bsp_ctrl/bsp_types.h>

/* Settings, kept in the object database. */
struct app_config {
    unsigned serial_baud; /* the craft terminal's serial port */
    unsigned pci_version; /* software version published to the far-side processor */
};

/* Work that callbacks hand to the main loop: they run in the library's contexts (the PCI
 * interrupt, the MAC/SFP driver's event thread), where nothing slow may be done. */
enum app_event_kind { APP_EVENT_ASSET_TAG, APP_EVENT_LINK };

#define APP_TAG_LEN 16 /* an inventory text field: up to 16 characters, NUL-padded */

struct app_event {
    enum app_event_kind kind;
    int port; /* APP_EVENT_LINK: hardware port, 1 up / 0 down, Mbit/s */
    int up;
    unsigned speed;
    char tag[APP_TAG_LEN + 1]; /* APP_EVENT_ASSET_TAG: the new asset tag */
};

/* main.c: queues an event for the main loop (safe from any thread). */
void app_post(const struct app_event *event);

/* config.c: creates database 0 and reads the settings (written with defaults the first
 * time); 0 on success. config_stop deletes the database. */
int config_start(struct app_config *config);
void config_stop(void);

/* inventory.c: reads the inventory from the EEPROM (laying out a blank one) and prints it;
 * inventory_store_asset_tag writes the asset tag and reads it back: 0, or the failing
 * layout code. */
void inventory_start(void);
int inventory_store_asset_tag(const char *tag);

/* peers.c: the far-side processor over PCI and the craft terminal on the serial port. */
int peers_start(const struct app_config *config);
void peers_answer_asset_tag(int result);
void peers_stop(void);

/* link.c: link events of the Ethernet ports, logged by the main loop. */
void link_start(void);
void link_log(const struct app_event *event);
void link_stop(void);

#endif
