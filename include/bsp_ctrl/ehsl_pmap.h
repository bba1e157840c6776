/** @file
 * Port map: joins the unit's hardware Ethernet ports 1..3 with the switch port numbers the
 * application assigns to them, keeps a link-state event reporting flag per hardware port, and
 * holds the SyncE capability bits of each hardware port.
 *
 * Results: 0 on success, -1 on failure; out-values are written only on success. Hardware port
 * numbers outside 1..3 are refused by every operation that reads or writes an entry.
 *
 * @par Threads and locks
 * The map takes no lock; the capability get, set and clear wait on ehsl_pmap_synce_init_sem
 * while the capability initialisation phase is unfinished.
 */
#ifndef BSP_CTRL_EHSL_PMAP_H
#define BSP_CTRL_EHSL_PMAP_H

#include <semaphore.h>

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Capability bit 0: the hardware port supports SyncE; the other bits count only with it. */
#define PMAP_SYNCE_HW_SUPPORT 0x1

/**
 * Holds capability readers back until the initialisation phase ends: count 0 from
 * ehsl_pmap_init until ehsl_pmap_synce_cap_init_finished posts the one token, which each early
 * caller passes on after its access.
 */
BSP_API extern sem_t ehsl_pmap_synce_init_sem;

/** Resets entries 1..3 (unmapped, reporting off, CP number from the board description) and
 * leaves ehsl_pmap_synce_init_sem with count 0 (initialised by the first call, emptied of its
 * tokens by later ones). Capabilities are kept. */
BSP_API void ehsl_pmap_init(void);

/** Writes the switch port mapped to `hw_port` (-1 when unmapped).
 * @return 0, or -1.
 */
BSP_API int ehsl_pmap_hw_to_eps(int hw_port, int *eps_port);

/** Writes the lowest hardware port mapped to `eps_port`.
 * @return 0; -1 when none is.
 */
BSP_API int ehsl_pmap_eps_to_hw(int eps_port, int *hw_port);

/** Maps or unmaps an entry.
 * @param eps_port > 0 maps it to `hw_port`; < 0 unmaps the entry and switches link-state
 * reporting off; 0 changes nothing.
 * @param bridge_port not used.
 * @return 0, or -1.
 */
BSP_API int ehsl_pmap_update(int hw_port, int eps_port, int bridge_port);

/** Not supported: always -1, nothing written. */
/** @{ */
BSP_API int ehsl_pmap_hw_to_bridgeport(int hw_port, unsigned int *bridge_port);
BSP_API int ehsl_pmap_hw_to_mac(int hw_port, unsigned char *mac);
BSP_API int ehsl_pmap_max_speed_get(int hw_port, int *speed);
BSP_API int ehsl_pmap_max_speed_set(int eps_port, int speed);
/** @} */

/** Link-state event reporting flag of a hardware port: 1 on, 0 off (any non-zero sets 1).
 * Returns 0, or -1. */
/** @{ */
BSP_API int ehsl_pmap_link_state_event_get(int hw_port, int *report);
BSP_API int ehsl_pmap_link_state_event_set(int hw_port, int report);
/** @} */

/** Stores the capability bits (0..7) of `hw_port`, replacing what it held. Takes no lock.
 * @return 0, or -1.
 */
BSP_API int ehsl_pmap_synce_cap_init(int hw_port, int capability);

/** Ends the initialisation phase for good and posts ehsl_pmap_synce_init_sem once, which
 * releases the callers waiting in get, set and clear.
 * @return 0 always.
 */
BSP_API int ehsl_pmap_synce_cap_init_finished(void);

/** Writes the effective capability: stored bits 1..3 when bit 0 is set, else 0. Blocks until
 * the initialisation phase has ended.
 * @return 0, or -1.
 */
BSP_API int ehsl_pmap_synce_cap_get(int hw_port, int *capability);

/** Adds (set) or removes (clear) the run-time bit: `capability` must be 0 or 8. Blocks until
 * the initialisation phase has ended. Returns 0, or -1. */
/** @{ */
BSP_API int ehsl_pmap_synce_cap_set(int hw_port, int capability);
BSP_API int ehsl_pmap_synce_cap_clear(int hw_port, int capability);
/** @} */

BSP_EXTERN_C_END

#endif
