/** @file
 * OS service layer and debug log of the host process.
 *
 * The library calls these services but does not contain them: every symbol below stays
 * undefined in libbsp_ctrl.so and is resolved from the host process at load time. On the
 * unit the host is the control application; off-target it is the simulated host (sim/).
 * Every OS operation returns a STATUS: 0 is success, anything else failure.
 *
 * @par Threads and locks
 * Semaphore operations are called from application threads and from the library's tasks
 * ("FRAMER", "TISOCK"). Timer routines and the PCI interrupt entry run in the OS service
 * layer's timer and interrupt contexts; the library's own code in those contexts calls no
 * semaphore operation.
 */
#ifndef BSP_PLATFORM_BSP_OS_H
#define BSP_PLATFORM_BSP_OS_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** Control blocks owned by the caller, filled in by the create operations. The library never
 * looks inside them; the host tells them apart by address. */
/** @{ */
typedef struct NU_SEMAPHORE_STRUCT {
    UNSIGNED words[4];
} NU_SEMAPHORE;

typedef struct NU_TIMER_STRUCT {
    UNSIGNED words[4];
} NU_TIMER;

typedef struct NU_TASK_STRUCT {
    UNSIGNED words[4];
} NU_TASK;
/** @} */

/** A driver request: the operation code and the driver's own request record. */
typedef struct NU_DRIVER_REQUEST_STRUCT {
    int nu_function;
    void *nu_supplemental_ptr;
} NU_DRIVER_REQUEST;

/** Memory pool record: six 32-bit words, absolute 32-bit addresses. It may lie inside a
 * region that survives a restart, so it holds no pointer-typed field. */
typedef struct MEM_POOL_STRUCT {
    UINT32 pool_addr;
    UINT32 pool_size;
    UINT32 pool_min_allocation;
    UINT32 pool_available;
    UINT32 memory_list;
    UINT32 memory_search;
} MEM_POOL;

/** The pool record as the store keeps it in its region. */
typedef MEM_POOL STORE_POOL;

/** Header in front of every pool block, inside the pool's memory. */
typedef struct MEM_HEADER_STRUCT {
    UINT32 memory_next;
    UINT32 memory_prev;
    UINT32 memory_free;
    UINT32 memory_pool;
} MEM_HEADER;

/** The STATUS of success. */
#define NU_SUCCESS 0
/** Suspend values of OS_Obtain_Semaphore. */
/** @{ */
#define NU_SUSPEND 0xFFFFFFFFUL
#define NU_NO_SUSPEND 0UL
/** @} */
/** Suspend types of OS_Create_Semaphore. */
/** @{ */
#define NU_PRIORITY 11
#define NU_FIFO 0
/** @} */
/** Enable values of the OS timer family. */
/** @{ */
#define NU_DISABLE_TIMER 4
#define NU_ENABLE_TIMER 5
/** @} */

/* ---- Semaphores (created with count 1 and used as mutual-exclusion locks) ---- */

/** Creates the semaphore `name` with `initial_count`; `suspend_type` is NU_PRIORITY, or
 * NU_FIFO for "DPDP_SEM".
 * @return 0 when created.
 */
STATUS OS_Create_Semaphore(NU_SEMAPHORE *semaphore, CHAR *name, UNSIGNED initial_count,
                           OPTION suspend_type);

/** Obtains the semaphore.
 * @param suspend NU_SUSPEND waits without limit; NU_NO_SUSPEND returns at once when the
 * count is 0.
 * @return 0 when obtained; non-zero when not.
 */
STATUS OS_Obtain_Semaphore(NU_SEMAPHORE *semaphore, UNSIGNED suspend);

/** Releases the semaphore.
 * @return 0 when released.
 */
STATUS OS_Release_Semaphore(NU_SEMAPHORE *semaphore);

/** Deletes the semaphore.
 * @return 0 when deleted.
 */
STATUS OS_Delete_Semaphore(NU_SEMAPHORE *semaphore);

/* ---- Tasks ---- */

/** Task entry; it loops on blocking reads and returns only when its read fails. */
typedef void (*OS_TASK_ENTRY)(UNSIGNED argc, void *argv);

/** Creates the task `name`, which starts running `entry(argc, argv)` at once, concurrently
 * with the caller (the library passes argc 0 and no argv).
 * @return 0 when created.
 */
STATUS OS_Create_Task(NU_TASK *task, CHAR *name, OS_TASK_ENTRY entry, UNSIGNED argc, void *argv);

/* ---- OS timers, in ticks of 10 ms; routines run in timer context ---- */

/** Timer routine, called with the timer's id. */
typedef void (*OS_TIMER_ROUTINE)(UNSIGNED id);

/** Creates a timer whose routine is called when `initial_time` has run out and then each
 * time `reschedule_time` has run out; `enable` NU_DISABLE_TIMER creates it stopped.
 * @return 0 on success.
 */
STATUS OS_Create_Timer(NU_TIMER *timer, CHAR *name, OS_TIMER_ROUTINE routine, UNSIGNED id,
                       UNSIGNED initial_time, UNSIGNED reschedule_time, OPTION enable);

/** Stops the timer (`enable` NU_DISABLE_TIMER).
 * @return 0 on success.
 */
STATUS OS_Control_Timer(NU_TIMER *timer, OPTION enable);

/** Restarts the timer with new times and enables it (`enable` NU_ENABLE_TIMER).
 * @return 0 on success.
 */
STATUS OS_Reset_Timer(NU_TIMER *timer, OS_TIMER_ROUTINE routine, UNSIGNED initial_time,
                      UNSIGNED reschedule_time, OPTION enable);

/* ---- The timer service's own family: identifiers, times in milliseconds ---- */

/** Timer routine, called in the timer service's context with the timer's identifier. */
typedef void (*TIMER_ROUTINE)(UINT32 timer_id);

/** Creates a timer and writes its identifier to `timer_id`; `routine` is called on each
 * expiry. Whether it already runs after creation is the timer service's choice.
 * @return 0 on success.
 */
STATUS TimerCreate(UINT32 owner, UINT32 *timer_id, TIMER_ROUTINE routine, UINT32 arg,
                   UINT32 initial_time, UINT32 period, UINT32 flags);

/** Starts the timer again from a full period (the library ignores the result). */
STATUS TimerEnable(UINT32 timer_id);

/** Stops the timer (the library ignores the result). */
STATUS TimerDisable(UINT32 timer_id);

/** The tick clock.
 * @return the tick count; one tick is 10 ms.
 */
UNSIGNED OS_Retrieve_Clock(void);

/* ---- Device attachment ---- */

/** Interrupt entry, called on each interrupt of the device. */
typedef void (*OS_INTERRUPT_ENTRY)(UINT16 int_reg);

/** Maps the device window (address stored through `window`) and attaches the interrupt
 * entry.
 * @return the device descriptor, which the library uses for ioctl.
 */
INT OS_Init_Driver(CHAR *name, CHAR *device_path, UNSIGNED physical_base, UNSIGNED length,
                   UNSIGNED mode, UNSIGNED flags, UNSIGNED options, OS_INTERRUPT_ENTRY entry,
                   void **window);

/* ---- Memory pools laid inside caller-provided memory ---- */

/** Lays a pool over `size` bytes at `start` with a minimum allocation of `min_allocation`
 * bytes. The pool record and all block bookkeeping lie inside the pool's own memory and the
 * record, with absolute addresses, so that a pool found again in a region that survived a
 * restart is complete without being created again.
 * @return 0 on success.
 */
STATUS MEM_Create_Pool(MEM_POOL *pool, void *start, UNSIGNED size, UNSIGNED min_allocation);

/** Writes the address of a block of at least `size` bytes (and at least the minimum
 * allocation) to `block`; a request for 0 bytes succeeds while space remains.
 * @return 0; non-zero when no free block of that size remains.
 */
STATUS MEM_Allocate(MEM_POOL *pool, void **block, UNSIGNED size);

/** Gives the block back to the pool.
 * @return 0 on success.
 */
STATUS MEM_Deallocate(MEM_POOL *pool, void *block);

/* ---- Debug log ---- */

/** Printf-style message for the module whose index is given (the value of one of the
 * DBG_*_INDEX variables); levels 0 and 1 are errors and notable events, 2 is call tracing.
 * The service decides, per module index and level, whether and where the message goes.
 * Every message text passes its own line ends.
 * @return ignored by the library.
 */
int log_printf(UINT32 index, UINT32 level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/** Printf-style message to the neighbouring processor's log (used by the DPDP channel).
 * @return ignored by the library.
 */
int npu_log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

/** A 32-bit time value, which the DPDP channel prints with "%8d".
 * @param unused 0.
 */
UINT32 get_system_time(INT unused);

/** @name Debug-log module indices
 * @{ */
/** Variables of the host whose value selects a module's log settings; the library passes
 * their current value, never their address. */
extern UINT32 DBG_1588_INDEX;
extern UINT32 DBG_DPDP_INDEX;
extern UINT32 DBG_EHSL_PMAP_INDEX;
extern UINT32 DBG_EHSL_PORT_INDEX;
extern UINT32 DBG_FLASH_INDEX;
extern UINT32 DBG_PCI_INDEX;
extern UINT32 DBG_SEIS_INDEX;
extern UINT32 DBG_SFP_INDEX;
/** @} */

BSP_EXTERN_C_END

#endif
