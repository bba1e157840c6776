// Internal to the simulated host: tells the library's own calls of an interposed C library
// function from the rest of the process's, by the caller's return address.
#ifndef BSP_SIM_DEVICES_LIBRARY_TEXT_H
#define BSP_SIM_DEVICES_LIBRARY_TEXT_H

// Safe on the allocation path, which runs before the sanitizer runtimes have set up: no
// instrumentation, no allocation, no lock.
#define BSP_SIM_RAW __attribute__((no_sanitize("address", "thread", "undefined")))

namespace bsp::sim {

// Finds the library's executable code once (a unit reset does it). Takes the loader's lock:
// never to be called from an allocation.
void locate_library_text();

// True when `caller`, a return address, lies in the library's executable code (false while
// the code has not been located).
BSP_SIM_RAW bool called_from_library(const void *caller);

}  // namespace bsp::sim

#endif
