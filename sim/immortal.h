// Process-wide objects of the simulated host that are never destroyed: the library's tasks
// and timer routines, the application's threads and descriptors closed during exit may still
// reach them while the process exits. `Tag` tells apart objects of one type.
//
// The library keeps its own copy (lib/common/immortal.h): it includes nothing of its host,
// and the simulated host stands for the application's own host, which shares no sources with
// the library.
#ifndef BSP_SIM_IMMORTAL_H
#define BSP_SIM_IMMORTAL_H

namespace bsp::sim {

template <class T, class Tag = T>
T &immortal() {
    static T *object = new T;
    return *object;
}

}  // namespace bsp::sim

#endif
