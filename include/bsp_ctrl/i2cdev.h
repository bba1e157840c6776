/** @file
 * I2C device access through the Linux I2C character devices /dev/i2c-N: the 16-bit
 * registers of the PHY inside an SFP module (bus 1, address 0x56) and general block reads
 * and writes of any chip with a data address of 0, 1 or 2 bytes sent before each block.
 *
 * Chips are selected with I2C_SLAVE_FORCE, so a chip claimed by a kernel driver is reached
 * too. Each call opens the device, transfers and closes it. Writes pause 10 ms after every
 * block.
 *
 * @par Threads and locks
 * Every call runs under the process-wide semaphore `i2cdev`, which is given back on every
 * path; any thread may call.
 */
#ifndef BSP_CTRL_I2CDEV_H
#define BSP_CTRL_I2CDEV_H

#include <semaphore.h>

#include <bsp_ctrl/bsp_types.h>

BSP_EXTERN_C_BEGIN

/** One I2C transfer at a time across all buses; started with the value 1 on first use. */
BSP_API extern sem_t i2cdev;

/** Reads SFP PHY register `regnum` (most significant byte first) into `val`. A failed
 * register-number write is retried once.
 * @param phyad not used.
 * @return 0, or the negated error number of the failing step (logged under DBG_SFP_INDEX);
 * -EFAULT for a NULL `val`.
 */
BSP_API int i2c_read_sfp_phy(int phyad, UINT8 regnum, UINT16 *val);

/** Writes SFP PHY register `regnum`.
 * @param phyad not used.
 * @return 0, or the negated error number (logged).
 */
BSP_API int i2c_write_sfp_phy(int phyad, UINT8 regnum, UINT16 val);

/** Reads `buf_len` bytes in blocks of `block_len` (0: one block) from chip `chip_addr` on
 * `bus`, sending the data address `data_addr` + offset before each block.
 * @param data_addr_len the data address's length: 0, 1 or 2 bytes (more counts as 2).
 * @return the bytes of the complete blocks read; -1 when the device could not be opened (or
 * `data_buff` is NULL with a non-zero length), -2 when the chip could not be selected, -3
 * when a data address write failed.
 */
BSP_API int i2c_read_buf(int bus, int chip_addr, UINT16 data_addr, UINT8 data_addr_len,
                         UINT8 *data_buff, UINT16 buf_len, UINT16 block_len);

/** Writes `buf_len` bytes (0 counts as 1) in blocks, each in one message behind its data
 * address, pausing 10 ms after each.
 * @return the bytes of the complete blocks written; -1 and -2 as for reading (-1 also for a
 * NULL `data_buff`).
 */
BSP_API int i2c_write_buf(int bus, int chip_addr, UINT16 data_addr, UINT8 data_addr_len,
                          UINT8 *data_buff, UINT16 buf_len, UINT16 block_len);

/** Reads one register.
 * @return the register's value; 0 when the read fails.
 */
BSP_API UINT8 i2c_read_reg(int bus, int chip_addr, UINT8 data_addr, UINT8 data_addr_len);

/** Writes one register.
 * @return 0 always.
 */
BSP_API int i2c_write_reg(int bus, int chip_addr, UINT8 data_addr, UINT8 data_addr_len,
                          UINT8 value);

/** Takes `i2cdev`, waiting without limit, so that the host can keep these operations out
 * around its own I2C work.
 * @return 0.
 */
BSP_API int i2c_sem_wait(void);

/** Gives `i2cdev` back.
 * @return 0.
 */
BSP_API int i2c_sem_post(void);

BSP_EXTERN_C_END

#endif
