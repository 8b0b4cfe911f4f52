/* The stub image in front of the payload, as the stub's build makes it and
   the packer reads it: exactly PAYLOAD_OFFSET bytes, where the records
   start, holding the icon group STUB_ICON_GROUP, which the dialog loads,
   Windows shows for the file, and branding replaces. The build pads the
   stub to PAYLOAD_OFFSET as read from this file (cmake/core.cmake). The
   resource compiler reads it too (ui/setup.rc) and sees only the macro. */
#ifndef POPBOX_PAYLOAD_STUB_IMAGE_H
#define POPBOX_PAYLOAD_STUB_IMAGE_H

#define STUB_ICON_GROUP 101

#ifndef RC_INVOKED
#include <stdint.h>

namespace popbox {

constexpr uint32_t PAYLOAD_OFFSET = 40960;

}  // namespace popbox
#endif

#endif
