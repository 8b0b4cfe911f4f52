# Host build: the packer, the host unit tests, and (with POPBOX_CROSS) the
# MinGW build of the Win32 parts, whose tests run under Wine.
option(POPBOX_CROSS "Also build the Win32 parts with MinGW" ON)
option(POPBOX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(POPBOX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

popbox_add_core(popbox_core posix table)

add_subdirectory(packer)
add_subdirectory(trial)
add_subdirectory(tests)

if(POPBOX_CROSS)
  include(ExternalProject)
  ExternalProject_Add(win32
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${CMAKE_BINARY_DIR}/win32"
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel
      -DPOPBOX_BIN_DIR=${POPBOX_BIN_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
endif()
