# Warnings and sanitizer flags shared by every target of the project.
add_library(bsp_warnings INTERFACE)
target_compile_options(bsp_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Werror -Wshadow
    $<$<COMPILE_LANGUAGE:CXX>:-Wmissing-declarations -Wnon-virtual-dtor>)

if(BSP_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(BSP_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(BSP_SANITIZE STREQUAL "fuzzer")
    # Everything is instrumented for coverage; only the fuzz programs link the fuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT BSP_SANITIZE STREQUAL "")
    message(FATAL_ERROR "BSP_SANITIZE must be empty, address, thread or fuzzer")
endif()

# An executable that hosts the library: it carries the simulated host and exports its
# symbols so that the library's undefined host services resolve to it at load time.
function(bsp_host_executable target)
    target_link_libraries(${target} PRIVATE bsp_ctrl bsp_sim bsp_board bsp_host bsp_warnings)
    set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()

# An executable that hosts the library on a real unit: the host layer and the simulated board
# services, nothing interposed, so that the library reaches the unit's own devices.
function(bsp_unit_executable target)
    target_link_libraries(${target} PRIVATE bsp_ctrl bsp_board bsp_host bsp_warnings)
    set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()
