// Process-wide objects of the host layer and of the simulated host built on it that are never
// destroyed: the library's tasks and timer routines, the application's threads and
// descriptors closed during exit may still reach them while the process exits. `Tag` tells
// apart objects of one type.
//
// The library keeps its own copy (lib/common/immortal.h): it includes nothing of its host.
#ifndef BSP_HOST_IMMORTAL_H
#define BSP_HOST_IMMORTAL_H

namespace bsp::host {

template <class T, class Tag = T>
T &immortal() {
    static T *object = new T;
    return *object;
}

}  // namespace bsp::host

#endif
