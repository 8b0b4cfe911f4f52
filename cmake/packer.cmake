# The packer's rooms, one static library each; docs/architecture.md tells
# which room answers which question, and scripts/check-layers.py holds each
# to what it may include:
#   common    the error type, diagnostics, code pages, byte buffers and reads,
#             and the one way to run work on threads in order
#   host      the file system layer, for POSIX or for Windows
#   encoder   the optimal encoder, its match finder and the record writer
#   branding  PE images, resource trees, icon files, version information,
#             and the stub's branding
#   packer/   the commands: check, the folder walk, exclusions, the setup
#             reader, pack's pipeline, one file per command (main.cpp is
#             the program's own)
set(POPBOX_PACKER_COMMON_SOURCES byte_buffer.cpp codepage.cpp diagnostics.cpp packer_error.cpp
                                 work_pool.cpp)
set(POPBOX_PACKER_HOST_SOURCES host_file.cpp)
set(POPBOX_PACKER_ENCODER_SOURCES encoder_optimal.cpp payload_writer.cpp)
set(POPBOX_PACKER_BRANDING_SOURCES icon_file.cpp pe_image.cpp resource_tree.cpp stub_branding.cpp
                                   version_info.cpp)
set(POPBOX_PACKER_COMMAND_SOURCES app_folder.cpp check.cpp compressor.cpp exclusions.cpp
                                  extract_command.cpp folder_walk.cpp init_command.cpp
                                  list_command.cpp pack_command.cpp setup_reader.cpp
                                  try_command.cpp verify_command.cpp)

# popbox_add_packer(NAME CORE HOST): the rooms as the libraries NAME_common,
# NAME_host, NAME_encoder, NAME_branding and NAME (the commands), over the
# shared core CORE, with the file system layer host/host_file_HOST.cpp
# (posix or win32). A program links NAME, or only the rooms it uses.
function(popbox_add_packer name core host)
  set(packer "${CMAKE_SOURCE_DIR}/packer")
  foreach(room common host encoder branding)
    string(TOUPPER ${room} upper)
    set(sources ${POPBOX_PACKER_${upper}_SOURCES})
    list(TRANSFORM sources PREPEND "${packer}/${room}/")
    add_library(${name}_${room} STATIC ${sources})
  endforeach()
  target_sources(${name}_host PRIVATE "${packer}/host/host_file_${host}.cpp")
  set(sources ${POPBOX_PACKER_COMMAND_SOURCES})
  list(TRANSFORM sources PREPEND "${packer}/")
  add_library(${name} STATIC ${sources})

  target_link_libraries(${name}_common PUBLIC ${core})
  if(NOT WIN32)
    find_package(Threads REQUIRED)
    target_link_libraries(${name}_common PUBLIC Threads::Threads)
  endif()
  foreach(room host encoder branding)
    target_link_libraries(${name}_${room} PUBLIC ${name}_common)
  endforeach()
  target_link_libraries(${name} PUBLIC ${name}_host ${name}_encoder ${name}_branding)
endfunction()
