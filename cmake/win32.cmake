# MinGW i686 build: the stub, and the Win32 builds of the unit tests and
# the Wine test programs.

# The stub: GUI subsystem, small, no exceptions or RTTI, no time stamp, and
# linked statically against the compiler's runtime so that it needs only
# system DLLs.
set(POPBOX_STUB_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections)
set(POPBOX_STUB_LINK_FLAGS -mwindows -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,--large-address-aware)

set(POPBOX_STUB_SOURCES
  ${POPBOX_CORE_SOURCES}
  app/os_api_win32.cpp
  app/show_error.cpp
  app/manifest.rc
  app/winmain.cpp
  install/launch.cpp
  install/shortcuts.cpp
  script/registry_win32.cpp
  ui/setup_dialog.cpp
)
# The resource script (dialogs and icon) adds itself here.
include(${CMAKE_SOURCE_DIR}/ui/resources.cmake OPTIONAL)
list(APPEND POPBOX_STUB_SOURCES ${POPBOX_STUB_RESOURCES})

add_executable(popbox-stub-linked WIN32 ${POPBOX_STUB_SOURCES})
target_compile_options(popbox-stub-linked PRIVATE ${POPBOX_STUB_FLAGS})
target_link_options(popbox-stub-linked PRIVATE ${POPBOX_STUB_LINK_FLAGS})
target_link_libraries(popbox-stub-linked PRIVATE ole32 shell32 advapi32 uuid)
set_target_properties(popbox-stub-linked PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")

add_custom_command(
  OUTPUT "${POPBOX_BIN_DIR}/popbox-stub.exe"
  COMMAND ${CMAKE_COMMAND} -DIN=$<TARGET_FILE:popbox-stub-linked>
          -DOUT=${POPBOX_BIN_DIR}/popbox-stub.exe -DSIZE=40960 -P ${CMAKE_SOURCE_DIR}/cmake/pad_stub.cmake
  DEPENDS popbox-stub-linked ${CMAKE_SOURCE_DIR}/cmake/pad_stub.cmake
  VERBATIM)
add_custom_target(popbox-stub ALL DEPENDS "${POPBOX_BIN_DIR}/popbox-stub.exe")

# The shared code again, as a library for the Win32 unit tests.
add_library(popbox_core_win32 STATIC ${POPBOX_CORE_SOURCES} app/os_api_win32.cpp app/show_error.cpp
            script/registry_win32.cpp)
target_compile_definitions(popbox_core_win32 PUBLIC POPBOX_OWN_PATH_OVERRIDE)

add_subdirectory(packer)
add_subdirectory(tests)
add_subdirectory(examples)
add_subdirectory(${CMAKE_SOURCE_DIR}/bench/wine ${CMAKE_BINARY_DIR}/bench-wine)
