// The one long-lived script document: "Setup.ini" as loaded at start-up.
#pragma once

#include "script/script_document.h"

namespace popbox {

// Empty from static initialisation until the entry loads it; afterwards
// only read. Its block is released when the process exits normally.
extern ScriptDocument theScript;

}  // namespace popbox
