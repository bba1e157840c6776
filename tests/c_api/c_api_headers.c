/* Includes every public header from C99 and runs once with the simulated host. */
#include "all_headers.h"

#include <stdio.h>

int main(void) {
    UINT32 width = sizeof(UINT32) + sizeof(UINT16) + sizeof(UINT8);
    printf("public headers compile as C99 (%u)\n", (unsigned)width);
    return width == 7 ? 0 : 1;
}
