# The code the setup and the host tools share, below the dialog: text rules
# and the error slot (base/), the payload reader and decoder (payload/), the
# script document and folder macros (script/), and the install checks and
# extraction (install/). Its OS calls sit behind platform/os_api.h and
# platform/registry.h; each build picks one backend of each.
set(POPBOX_CORE_SOURCES
  base/error_slot.cpp
  base/text.cpp
  install/extract.cpp
  install/install_checks.cpp
  install/install_paths.cpp
  payload/payload_stream.cpp
  payload/unpack.cpp
  script/folder_macros.cpp
  script/script_document.cpp
)

# The payload offset, read from the header that the code compiles with, so
# that the padding step and the reader can never disagree.
file(STRINGS "${CMAKE_SOURCE_DIR}/payload/stub_image.h" popbox_offset_line
     REGEX "PAYLOAD_OFFSET = [0-9]+;")
string(REGEX MATCH "PAYLOAD_OFFSET = ([0-9]+)" popbox_offset_match "${popbox_offset_line}")
set(POPBOX_PAYLOAD_OFFSET "${CMAKE_MATCH_1}")
if(NOT POPBOX_PAYLOAD_OFFSET)
  message(FATAL_ERROR "PAYLOAD_OFFSET not found in payload/stub_image.h")
endif()

# popbox_add_core(NAME OS REGISTRY): a static library of the shared code
# with the OS backend platform/os_api_OS.cpp (win32 or posix) and the
# registry backend platform/registry_REGISTRY.cpp (win32, or table: the
# host's table of values).
function(popbox_add_core name os registry)
  set(sources ${POPBOX_CORE_SOURCES} platform/os_api_${os}.cpp platform/registry_${registry}.cpp)
  list(TRANSFORM sources PREPEND "${CMAKE_SOURCE_DIR}/")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}")
endfunction()
