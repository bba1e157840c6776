// A reader/writer lock on which a waiting writer goes first: once a writer waits, new readers
// wait behind it, so a stop or a delete is not starved by calls that keep overlapping.
// Readers must not take it again while holding it (a waiting writer would block them).
// Usable with std::shared_lock and std::unique_lock.
#ifndef BSP_LIB_COMMON_WRITER_FIRST_LOCK_H
#define BSP_LIB_COMMON_WRITER_FIRST_LOCK_H

#include <pthread.h>

namespace bsp {

class WriterFirstLock {
  public:
    WriterFirstLock() {
        pthread_rwlockattr_t attr;
        pthread_rwlockattr_init(&attr);
        pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
        pthread_rwlock_init(&lock_, &attr);
        pthread_rwlockattr_destroy(&attr);
    }
    ~WriterFirstLock() { pthread_rwlock_destroy(&lock_); }
    WriterFirstLock(const WriterFirstLock &) = delete;
    WriterFirstLock &operator=(const WriterFirstLock &) = delete;

    void lock() { pthread_rwlock_wrlock(&lock_); }
    void unlock() { pthread_rwlock_unlock(&lock_); }
    void lock_shared() { pthread_rwlock_rdlock(&lock_); }
    void unlock_shared() { pthread_rwlock_unlock(&lock_); }

  private:
    pthread_rwlock_t lock_;
};

}  // namespace bsp

#endif
