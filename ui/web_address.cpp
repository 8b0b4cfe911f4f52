#include "ui/web_address.h"

#include <string.h>

#include "base/path_limits.h"
#include "base/text.h"

namespace popbox {

void NormalizeWebAddress(char* text) {
  TrimText(text);
  if (!*text) return;
  if (strncmp(text, "http://", 7) == 0 || strncmp(text, "https://", 8) == 0) return;
  char scratch[NAME_BUFFER_SIZE];
  strcpy(scratch, text);
  strcpy(text, "http://");
  strcat(text, scratch);
}

}  // namespace popbox
