/* unit_app: the settings, one text object "unit_config" in database 0, for example
 *   serial_baud=115200
 *   pci_version=0x00020001
 * A unit without the object gets the defaults written. */
#include <bsp_ctrl/db_api.h>
#include <bsp_sim/bsp_sim_c.h>
#include <stdio.h>
#include <string.h>

#include "unit_app.h"

#define DB_SIZE (64u * 1024u)

static const struct app_config defaults = {115200, 0x00020001};

static int parse(const char *text, struct app_config *config) {
    return sscanf(text, "serial_baud=%u pci_version=%x", &config->serial_baud,
                  &config->pci_version) == 2
               ? 0
               : -1;
}

static int read_config(struct app_config *config) {
    char text[128] = {0};
    UINT32 obj = 0;
    if (DbObjOpen(0, &obj, "unit_config", "r") != 0) {
        return -1; /* not there yet */
    }
    UINT32 failed = DbObjRead(obj, text, sizeof text - 1);
    DbObjClose(obj);
    return failed == 0 ? parse(text, config) : -1;
}

static int write_config(const struct app_config *config) {
    char text[128];
    UINT32 obj = 0;
    int n = snprintf(text, sizeof text, "serial_baud=%u\npci_version=0x%08x\n", config->serial_baud,
                     config->pci_version);
    if (DbObjOpen(0, &obj, "unit_config", "w") != 0) {
        return -1;
    }
    UINT32 failed = DbObjWrite(obj, text, (UINT32)n);
    DbObjClose(obj);
    return failed == 0 ? 0 : -1;
}

int config_start(struct app_config *config) {
    /* The store names its region by a 32-bit address: on the unit a fixed memory area that
     * survives a restart; off-target a region the simulated host maps below 4 GiB. */
    UINT32 base = bsp_sim_region(DB_SIZE);
    if (base == 0 || DbCreate(0, base, DB_SIZE) != 0) {
        fprintf(stderr, "unit_app: no database\n");
        return -1;
    }
    if (read_config(config) != 0) {
        *config = defaults;
        if (write_config(config) != 0) {
            fprintf(stderr, "unit_app: cannot store the settings\n");
            return -1;
        }
        printf("config: defaults written\n");
    }
    printf("config: serial %u baud, PCI version 0x%08x\n", config->serial_baud,
           config->pci_version);
    return 0;
}

void config_stop(void) {
    DbDelete(0);
}
