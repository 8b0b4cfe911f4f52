#include "app/the_script.h"

namespace popbox {

ScriptDocument theScript;

}  // namespace popbox
