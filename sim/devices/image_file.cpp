// Image files of the simulated memory chips (EEPROM, flash).
#include "devices/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "bsp_sim/devices.h"
#include "bsp_sim/state.h"
#include "devices/interpose.h"

namespace bsp::sim {

int open_image(const char *name, size_t size, bool *fresh) {
    *fresh = true;
    if (persistent()) {
        std::string path = state_path(name);
        int fd = real_libc().open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0) {
            *fresh = static_cast<size_t>(st.st_size) != size;
            if (!*fresh || ::ftruncate(fd, static_cast<off_t>(size)) == 0) {
                return fd;
            }
        }
        if (fd >= 0) {
            real_libc().close(fd);
        }
    }
    return make_memfd(name, size);
}

}  // namespace bsp::sim
