# MinGW i686 build: the stub, and the Win32 builds of the unit tests and
# the Wine test programs.

# The stub: GUI subsystem, small, no exceptions or RTTI, no time stamp, and
# linked statically against the compiler's runtime so that it needs only
# system DLLs.
set(POPBOX_STUB_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections)
# stub_sections.ld makes the resources the last section, so that the
# packer can rewrite them (an author's icon, version information) within
# the room up to the payload offset without moving anything else.
set(POPBOX_STUB_LINK_FLAGS -mwindows -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,--large-address-aware -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/stub_sections.ld)

# The shared code as the stub compiles it; the Win32 unit tests link the
# same library, so they test the code that ships.
popbox_add_core(popbox_core_win32 win32 win32)
target_compile_options(popbox_core_win32 PRIVATE ${POPBOX_STUB_FLAGS})

set(POPBOX_STUB_SOURCES
  app/manifest.rc
  app/winmain.cpp
  install/launch.cpp
  install/shortcuts.cpp
  ui/setup_dialog.cpp
  ui/show_error.cpp
  ui/web_address.cpp
)
# manifest.rc takes setup.manifest in whole: a change to it rebuilds the stub.
set_source_files_properties(app/manifest.rc PROPERTIES
                            OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/app/setup.manifest")
# The resource script (dialogs and icon) adds itself here.
include(${CMAKE_SOURCE_DIR}/ui/resources.cmake)
list(APPEND POPBOX_STUB_SOURCES ${POPBOX_STUB_RESOURCES})

add_executable(popbox-stub-linked WIN32 ${POPBOX_STUB_SOURCES})
target_compile_options(popbox-stub-linked PRIVATE ${POPBOX_STUB_FLAGS})
target_link_options(popbox-stub-linked PRIVATE ${POPBOX_STUB_LINK_FLAGS})
target_link_libraries(popbox-stub-linked PRIVATE popbox_core_win32 ole32 shell32 advapi32 uuid)
set_target_properties(popbox-stub-linked PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}"
                      LINK_DEPENDS "${CMAKE_SOURCE_DIR}/cmake/stub_sections.ld")

# The stub as shipped: exactly the payload offset long, its resource
# section's raw data running to the end (the room for branding). Fails when
# the linked image is too large or its resources are not last.
find_program(POPBOX_PYTHON NAMES python3 REQUIRED)
add_custom_command(
  OUTPUT "${POPBOX_BIN_DIR}/popbox-stub.exe"
  COMMAND "${POPBOX_PYTHON}" ${CMAKE_SOURCE_DIR}/cmake/reserve_resource_room.py
          $<TARGET_FILE:popbox-stub-linked> ${POPBOX_BIN_DIR}/popbox-stub.exe
          ${POPBOX_PAYLOAD_OFFSET}
  DEPENDS popbox-stub-linked ${CMAKE_SOURCE_DIR}/cmake/reserve_resource_room.py
  VERBATIM)
add_custom_target(popbox-stub ALL DEPENDS "${POPBOX_BIN_DIR}/popbox-stub.exe")

add_subdirectory(packer)
add_subdirectory(trial)
add_subdirectory(tests)
add_subdirectory(examples)
add_subdirectory(${CMAKE_SOURCE_DIR}/bench/wine ${CMAKE_BINARY_DIR}/bench-wine)
