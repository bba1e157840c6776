/* A C application built against the installed library, hosted by the simulated unit: the
 * port map, and a database in a region from the simulated host. */
#include <bsp_ctrl/db_api.h>
#include <bsp_ctrl/ehsl_pmap.h>
#include <bsp_ctrl/framer_api.h> /* includes <bsp_ctrl/platform/bsp_os.h> */
#include <bsp_sim/bsp_sim_c.h>

#include <stdio.h>

#define REGION_SIZE 4096u

int main(void) {
    int eps = -1;
    UINT32 obj = 0;
    char text[6] = {0};
    uint32_t region;
    bsp_sim_start(NULL);
    ehsl_pmap_init();
    if (ehsl_pmap_hw_to_eps(1, &eps) != 0) {
        return 1;
    }
    printf("hardware port 1 is switch port %d\n", eps);
    region = bsp_sim_region(REGION_SIZE);
    if (region == 0 || DbCreate(0, region, REGION_SIZE) != 0 ||
        DbObjOpen(0, &obj, "config", "w+") != 0 || DbObjWrite(obj, "hello", 5) != 0 ||
        DbObjRead(obj, text, 5) != 0 || DbObjClose(obj) != 0) {
        return 1;
    }
    printf("database 0 holds %s\n", text);
    return 0;
}
