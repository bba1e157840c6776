// Regions below 4 GiB, anonymous or backed by a file of the state folder; C applications
// get the anonymous kind.
#include "bsp_host/region.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bsp::host {

namespace {

#ifdef MAP_32BIT
constexpr int kLowFlag = MAP_32BIT;  // x86-64: the first 2 GiB
#else
constexpr int kLowFlag = 0;  // 32-bit hosts: every address is low
#endif

bool below_4g(const void *p, size_t size) {
    return reinterpret_cast<uintptr_t>(p) + size - 1 <= UINT32_MAX;
}

}  // namespace

void *map_low_region(size_t size) {
    void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | kLowFlag,
                     -1, 0);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    if (!below_4g(p, size)) {
        ::munmap(p, size);
        return nullptr;
    }
    return p;
}

void *map_file_region(const std::string &path, size_t size, uintptr_t address) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && (static_cast<size_t>(st.st_size) >= size ||
                                        ::ftruncate(fd, static_cast<off_t>(size)) == 0);
    void *p = MAP_FAILED;
    if (ok) {
        p = ::mmap(reinterpret_cast<void *>(address), size, PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_FIXED_NOREPLACE, fd, 0);
    }
    ::close(fd);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    if (reinterpret_cast<uintptr_t>(p) != address) {  // kernels without NOREPLACE
        ::munmap(p, size);
        return nullptr;
    }
    return p;
}

void unmap_region(void *base, size_t size) {
    if (base != nullptr) {
        ::munmap(base, size);
    }
}

}  // namespace bsp::host
