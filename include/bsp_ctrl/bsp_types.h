/** @file
 * Integer type names shared by every interface of the library, and the export macro.
 */
#ifndef BSP_CTRL_BSP_TYPES_H
#define BSP_CTRL_BSP_TYPES_H

#include <stdint.h>

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef int32_t INT;
typedef char CHAR;
typedef int32_t STATUS;
typedef uint32_t UNSIGNED;
typedef uint8_t UNSIGNED_CHAR;
typedef uint32_t OPTION;

/** Marks a function or variable of the exported API; everything else stays hidden. */
#define BSP_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define BSP_EXTERN_C_BEGIN extern "C" {
#define BSP_EXTERN_C_END }
#else
#define BSP_EXTERN_C_BEGIN
#define BSP_EXTERN_C_END
#endif

#endif
