#include "ui/setup_dialog.h"

namespace popbox {

// Placeholder until the dialog lands: the script has loaded, nothing more
// is shown.
void RunSetupDialog(HINSTANCE) {}

}  // namespace popbox
