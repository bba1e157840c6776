/*
 * OS service layer and debug log of the host process.
 *
 * The library calls these services but does not contain them: every symbol below stays
 * undefined in libbsp_ctrl.so and is resolved from the host process at load time. On the
 * unit the host is the control application; off-target it is the simulated host (sim/).
 */
#ifndef BSP_PLATFORM_BSP_OS_H
#define BSP_PLATFORM_BSP_OS_H

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/* Control blocks owned by the caller, filled in by the create operations. The library never
 * looks inside them; the host tells them apart by address. */
typedef struct NU_SEMAPHORE_STRUCT {
    UNSIGNED words[4];
} NU_SEMAPHORE;

typedef struct NU_TIMER_STRUCT {
    UNSIGNED words[4];
} NU_TIMER;

typedef struct NU_TASK_STRUCT {
    UNSIGNED words[4];
} NU_TASK;

/* A driver request: the operation code and the driver's own request record. */
typedef struct NU_DRIVER_REQUEST_STRUCT {
    int nu_function;
    void *nu_supplemental_ptr;
} NU_DRIVER_REQUEST;

/* Memory pool record: six 32-bit words, absolute 32-bit addresses. It may lie inside a
 * region that survives a restart, so it holds no pointer-typed field. */
typedef struct MEM_POOL_STRUCT {
    UINT32 pool_addr;
    UINT32 pool_size;
    UINT32 pool_min_allocation;
    UINT32 pool_available;
    UINT32 memory_list;
    UINT32 memory_search;
} MEM_POOL;

typedef MEM_POOL STORE_POOL;

/* Header in front of every pool block, inside the pool's memory. */
typedef struct MEM_HEADER_STRUCT {
    UINT32 memory_next;
    UINT32 memory_prev;
    UINT32 memory_free;
    UINT32 memory_pool;
} MEM_HEADER;

#define NU_SUCCESS 0
/* Suspend values of OS_Obtain_Semaphore. */
#define NU_SUSPEND 0xFFFFFFFFUL
#define NU_NO_SUSPEND 0UL
/* Suspend types of OS_Create_Semaphore. */
#define NU_PRIORITY 11
#define NU_FIFO 0
/* Enable values of the OS timer family. */
#define NU_DISABLE_TIMER 4
#define NU_ENABLE_TIMER 5

/* Semaphores. */
STATUS OS_Create_Semaphore(NU_SEMAPHORE *semaphore, CHAR *name, UNSIGNED initial_count,
                           OPTION suspend_type);
STATUS OS_Obtain_Semaphore(NU_SEMAPHORE *semaphore, UNSIGNED suspend);
STATUS OS_Release_Semaphore(NU_SEMAPHORE *semaphore);
STATUS OS_Delete_Semaphore(NU_SEMAPHORE *semaphore);

/* Tasks: started at once, concurrently with the caller. */
typedef void (*OS_TASK_ENTRY)(UNSIGNED argc, void *argv);
STATUS OS_Create_Task(NU_TASK *task, CHAR *name, OS_TASK_ENTRY entry, UNSIGNED argc,
                      void *argv);

/* OS timers, in ticks of 10 ms; routines run in timer context. */
typedef void (*OS_TIMER_ROUTINE)(UNSIGNED id);
STATUS OS_Create_Timer(NU_TIMER *timer, CHAR *name, OS_TIMER_ROUTINE routine, UNSIGNED id,
                       UNSIGNED initial_time, UNSIGNED reschedule_time, OPTION enable);
STATUS OS_Control_Timer(NU_TIMER *timer, OPTION enable);
STATUS OS_Reset_Timer(NU_TIMER *timer, OS_TIMER_ROUTINE routine, UNSIGNED initial_time,
                      UNSIGNED reschedule_time, OPTION enable);

/* The timer service's own family: identifiers, times in milliseconds. */
typedef void (*TIMER_ROUTINE)(UINT32 timer_id);
STATUS TimerCreate(UINT32 owner, UINT32 *timer_id, TIMER_ROUTINE routine, UINT32 arg,
                   UINT32 initial_time, UINT32 period, UINT32 flags);
STATUS TimerEnable(UINT32 timer_id);
STATUS TimerDisable(UINT32 timer_id);

/* Tick clock: one tick is 10 ms. */
UNSIGNED OS_Retrieve_Clock(void);

/* Device attachment: maps the device window (address stored through `window`) and attaches
 * the interrupt entry; returns the device descriptor. */
typedef void (*OS_INTERRUPT_ENTRY)(UINT16 int_reg);
INT OS_Init_Driver(CHAR *name, CHAR *device_path, UNSIGNED physical_base, UNSIGNED length,
                   UNSIGNED mode, UNSIGNED flags, UNSIGNED options, OS_INTERRUPT_ENTRY entry,
                   void **window);

/* Memory pools laid inside caller-provided memory. */
STATUS MEM_Create_Pool(MEM_POOL *pool, void *start, UNSIGNED size, UNSIGNED min_allocation);
STATUS MEM_Allocate(MEM_POOL *pool, void **block, UNSIGNED size);
STATUS MEM_Deallocate(MEM_POOL *pool, void *block);

/* Debug log. The module indices are variables of the host; the library passes their value. */
int log_printf(UINT32 index, UINT32 level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
int npu_log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
UINT32 get_system_time(INT unused);

extern UINT32 DBG_1588_INDEX;
extern UINT32 DBG_DPDP_INDEX;
extern UINT32 DBG_EHSL_PMAP_INDEX;
extern UINT32 DBG_EHSL_PORT_INDEX;
extern UINT32 DBG_FLASH_INDEX;
extern UINT32 DBG_PCI_INDEX;
extern UINT32 DBG_SEIS_INDEX;
extern UINT32 DBG_SFP_INDEX;

BSP_EXTERN_C_END

#endif
