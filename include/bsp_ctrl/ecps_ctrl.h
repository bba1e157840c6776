/** @file
 * IEEE 1588 support in the unit's FPGA: detection, time-stamping-unit (TSU) control, the RTC
 * sync source, the polling timer, the time-stamp corrections of the radio-link (RL) TSU and
 * the SFP TSU, and the status report.
 *
 * Ports are hardware port numbers: KVU_HAL_RL_HW_PORT (1) and KVU_HAL_SFP_HW_PORT (3) carry a
 * TSU. Results: 0 on success, -1 on failure unless stated otherwise. Diagnostics go to the
 * debug log on DBG_1588_INDEX.
 *
 * @par Threads and locks
 * No lock is taken. The calls run in the caller's thread; the polling timer runs in timer
 * context, the link-event callback in the MAC/SFP driver's context and the
 * compensation-shift callback in the radio-link driver's context. Each control-block field
 * is read and written whole.
 */
#ifndef BSP_CTRL_ECPS_CTRL_H
#define BSP_CTRL_ECPS_CTRL_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Link-delay compensation operational mode of the RL port: in BASIC the radio-link
 * compensation shifts are not applied. */
typedef enum link_delay_comp_operational_mode {
    BASIC = 0,
    TELECOM = 1
} link_delay_comp_operational_mode;

/** RL bonding status of the RL port. */
typedef enum rl_bonding_status {
    RL_BONDING_DISABLED = 0,
    RL_BONDING_ENABLED = 1
} rl_bonding_status;

/** Trap-info (pps status) callback: called by ecps_dbg_send_alarm with (port, alarm). */
typedef int (*ecps_trap_info_cb)(int port, unsigned int alarm);

/* ---- Control ---- */

/** Detects 1588 support on the FPGA's major revision character; when supported, installs the
 * link-event and compensation-shift callbacks, initialises (reset type 1) or takes over the
 * TSU state and creates the stopped "ECPS_POLLING" timer. Call once at start.
 * @return 0.
 */
BSP_API int ecps_init(void);

/** Writes *support = 1 when the FPGA supports 1588, else 0.
 * @return 0; -1 when support is NULL.
 */
BSP_API int ecps_supported(unsigned int *support);

/** Stores the trap-info callback.
 * @return 0; -1 (nothing stored) when 1588 is not supported.
 */
BSP_API int ecps_install_trap_info_callback(ecps_trap_info_cb ecps_trap_info);

/** Gives the APU version.
 * @return the APU version itself (5 after a supported init, 0 before).
 */
BSP_API int ecps_apu_version_get(int port);

/** Stores the APU version; the port is not used.
 * @return 0.
 */
BSP_API int ecps_apu_version_set(int port, int new_version);

/** 1PPS selection: logged only; the getter leaves *sel1PPS unchanged (-1 when NULL). */
/** @{ */
BSP_API int ecps_sel1PPS_get(int port, unsigned int *sel1PPS);
BSP_API int ecps_sel1PPS_set(int port, unsigned int sel1PPS);
/** @} */

/** TSU enable of port 1 or 3 as a control word with the port's bit (bit 1 for the RL port,
 * bit 3 for the SFP port). -1 when 1588 is not supported, for another port, or (get) when
 * tsuCtrl is NULL. */
/** @{ */
BSP_API int ecps_tsuCtrl_get(int port, unsigned int *tsuCtrl);
BSP_API int ecps_tsuCtrl_set(int port, unsigned int tsuCtrl);
/** @} */

/** Link delay: logged only; the getter leaves *linkDelay unchanged (-1 when NULL). */
/** @{ */
BSP_API int ecps_linkDelay_get(int port, unsigned int *linkDelay);
BSP_API int ecps_linkDelay_set(int port, unsigned int linkDelay);
/** @} */

/** Alarm period: the getter gives the last period set (-1 when unsupported or NULL); the
 * setter stores it and restarts the polling timer (10/10 ticks), returning -1 when 1588 is
 * not supported or the OS layer's status of the stop or restart. */
/** @{ */
BSP_API int ecps_alarmPeriod_get(int port, unsigned int *alarmPeriod);
BSP_API int ecps_alarmPeriod_set(int port, unsigned int alarmPeriod);
/** @} */

/** RTC sync source: 0 = T0, 1 = 1PPS (only bit 0 of syncSrc counts). -1 when 1588 is not
 * supported or (get) syncSrc is NULL. */
/** @{ */
BSP_API int ecps_syncSrc_get(int port, unsigned int *syncSrc);
BSP_API int ecps_syncSrc_set(int port, unsigned int syncSrc);
/** @} */

/** @file
 * @par Compensation
 * The compensation calls serve ports 1 and 3 with a port entry. The correction registers are
 * written with 32-bit two's-complement wrap-around. These calls do not test 1588 support.
 */

/** Delay compensation; -1 for NULL or an invalid port. A set with the current value writes
 * nothing; otherwise the port's four corrections are rewritten. */
/** @{ */
BSP_API int ecps_delayComp_get(int port, int *delay);
BSP_API int ecps_delayComp_set(int port, int delay);
/** @} */

/** Asymmetry compensation; as the delay compensation. */
/** @{ */
BSP_API int ecps_asymmetryCompensation_get(int port, unsigned int *asymmetryCompensation);
BSP_API int ecps_asymmetryCompensation_set(int port, unsigned int asymmetryCompensation);
/** @} */

/** Operational mode of the RL port (BASIC or TELECOM). -1 for another port (the getter then
 * writes 0) or a NULL operMode. The setter rewrites the RL corrections and returns 0. */
/** @{ */
BSP_API int ecps_delayCompOperMode_get(int port, int *operMode);
BSP_API int ecps_delayCompOperMode_set(int port, int operMode);
/** @} */

/** RL bonding status of the RL port. -1 for another port (the getter then writes 0) or a
 * NULL bondingStatus. The setter returns 0 and changes nothing when the TSU state cannot
 * be read (1588 not supported). */
/** @{ */
BSP_API int ecps_rlBondingStatus_get(int port, int *bondingStatus);
BSP_API int ecps_rlBondingStatus_set(int port, int operMode);
/** @} */

/** Passes alarm 0 or 1 for the port to the trap-info callback.
 * @return 0; -1 for another alarm value or when no callback is installed.
 */
BSP_API int ecps_dbg_send_alarm(int port, int alarm);

/* ---- Report ---- */

/** Writes the 1588 status report into res (res_length bytes): never more than res_length
 * bytes, NUL-terminated when res_length > 0, cut at the end when it does not fit (the full
 * report needs at most 798 bytes).
 * @param res may be NULL when res_length is 0.
 * @return 0.
 */
BSP_API int ecps_debug_print(int res_length, char *res);

/** Reads a version string of 11 16-bit FPGA registers (two characters each, high byte
 * first) at addr + 4 * i (getVerStr16) or addr + 2 * i (getVerStr32) into buf, which
 * receives exactly 23 bytes (22 characters and a NUL). */
/** @{ */
BSP_API void getVerStr16(int addr, char *buf);
BSP_API void getVerStr32(int addr, char *buf);
/** @} */

BSP_EXTERN_C_END

#endif
