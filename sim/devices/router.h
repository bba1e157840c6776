// Internal to the simulated host: routing of paths and descriptors to the device models.
#ifndef BSP_SIM_DEVICES_ROUTER_H
#define BSP_SIM_DEVICES_ROUTER_H

#include <memory>
#include <string>

#include "bsp_sim/devices.h"

namespace bsp::sim {

struct RoutedFile {
    std::shared_ptr<OpenFile> file;
    std::string path;
};

// Opens `path` when it is a simulated device: true with `*fd` (or -1 and errno) set; false
// when the path is not simulated.
bool route_open(const char *path, int flags, int *fd);

// True, with errno set, for an open that the library (code at `caller`) makes before any
// unit was started: none of its devices exists yet, and no real device may be reached
// instead. The first such open says on standard error how to start the unit.
bool refuse_before_start(const char *path, const void *caller);

// The simulated file behind `fd`, or an empty record when `fd` is not simulated.
RoutedFile routed_file(int fd);

// Forgets `fd`; returns the file so that the caller can finish closing it.
RoutedFile unroute(int fd);

void record_system_command(const char *command);

}  // namespace bsp::sim

#endif
