# Cross build for the unit: 32-bit ARM hard-float Linux, Debian's cross compiler and the
# armhf libraries of the build machine (multiarch). Test programs run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A private sysroot (unpacked armhf packages) takes precedence when one is given.
if(DEFINED ENV{BSP_ARMHF_SYSROOT})
    list(PREPEND CMAKE_FIND_ROOT_PATH $ENV{BSP_ARMHF_SYSROOT})
endif()

# The unit's C library: large files and 64-bit time everywhere.
add_compile_definitions(_FILE_OFFSET_BITS=64 _TIME_BITS=64)

# Everything is built by this one compiler, so the notes that an argument is passed as GCC 7.1
# changed it (against older compilers) concern no call of ours.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-psabi>)

# Without -E, threads crash under the emulator once the armhf C library is installed.
set(BSP_ARMHF_LIBRARY_PATH /usr/arm-linux-gnueabihf/lib:/usr/lib/arm-linux-gnueabihf)
if(DEFINED ENV{BSP_ARMHF_SYSROOT})
    string(APPEND BSP_ARMHF_LIBRARY_PATH ":$ENV{BSP_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=${BSP_ARMHF_LIBRARY_PATH})
