// Process-wide objects that are never destroyed: tasks, timer routines and callers in other
// threads may still use them while the process exits. `Tag` tells apart objects of one type.
#ifndef BSP_LIB_COMMON_IMMORTAL_H
#define BSP_LIB_COMMON_IMMORTAL_H

namespace bsp {

template <class T, class Tag>
T &immortal() {
    static T *object = new T;
    return *object;
}

}  // namespace bsp

#endif
