# The stub's resources: the icon, generated from the pixel maps in ui/icon/,
# and ui/setup.rc with the two dialog layouts, compiled into one object file
# that the stub links. Sets POPBOX_STUB_RESOURCES.
#
# windres writes the dialogs' CLASS name in capitals, so the script is
# compiled to a .res first, the name's case is restored, and the .res is
# then converted to COFF.

find_program(POPBOX_PYTHON NAMES python3 REQUIRED)
find_program(POPBOX_WINDRES NAMES ${CMAKE_RC_COMPILER} i686-w64-mingw32-windres REQUIRED)

set(popbox_ui_src "${CMAKE_SOURCE_DIR}/ui")
set(popbox_ui_out "${CMAKE_BINARY_DIR}/ui")
file(MAKE_DIRECTORY "${popbox_ui_out}")

add_custom_command(
  OUTPUT "${popbox_ui_out}/setup.ico"
  COMMAND "${POPBOX_PYTHON}" "${popbox_ui_src}/icon/make_icon.py" "${popbox_ui_out}/setup.ico"
          "${popbox_ui_src}/icon/setup-16.txt" "${popbox_ui_src}/icon/setup-32.txt"
  DEPENDS "${popbox_ui_src}/icon/make_icon.py" "${popbox_ui_src}/icon/setup-16.txt"
          "${popbox_ui_src}/icon/setup-32.txt"
  COMMENT "Generating setup.ico"
  VERBATIM)

# The .rc finds setup.ico through the first include directory.
add_custom_command(
  OUTPUT "${popbox_ui_out}/setup_rc.obj"
  COMMAND "${POPBOX_WINDRES}" -I "${popbox_ui_out}" -I "${popbox_ui_src}" -I "${CMAKE_SOURCE_DIR}"
          -i "${popbox_ui_src}/setup.rc" -O res -o "${popbox_ui_out}/setup.res"
  COMMAND "${POPBOX_PYTHON}" "${popbox_ui_src}/restore_class_case.py" "${popbox_ui_out}/setup.res"
          DialogAsMain 2
  COMMAND "${POPBOX_WINDRES}" -J res -i "${popbox_ui_out}/setup.res" -O coff
          -o "${popbox_ui_out}/setup_rc.obj"
  DEPENDS "${popbox_ui_src}/setup.rc" "${popbox_ui_src}/resource_ids.h"
          "${CMAKE_SOURCE_DIR}/payload/stub_image.h"
          "${popbox_ui_src}/restore_class_case.py" "${popbox_ui_out}/setup.ico"
  COMMENT "Compiling setup.rc"
  VERBATIM)

set(POPBOX_STUB_RESOURCES "${popbox_ui_out}/setup_rc.obj")
