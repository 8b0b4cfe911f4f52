#include "base/error_slot.h"

#include <string.h>

namespace popbox {

const char CAPTION_CANNOT_INSTALL[] = "Cannot Install";
const char CAPTION_BUG[] = "Bug";

ErrorSlot theErrorSlot = {{0}, "", ErrorKind::None, 0};

void ClearError() {
  theErrorSlot.caption = "";
  theErrorSlot.message[0] = 0;
  theErrorSlot.kind = ErrorKind::None;
  theErrorSlot.detailAt = 0;
}

bool HasError() { return theErrorSlot.message[0] != 0; }

void AppendError(const char* text) {
  size_t have = strlen(theErrorSlot.message);
  size_t add = strlen(text);
  if (have + add > ERROR_MESSAGE_SIZE - 1) return;
  memcpy(theErrorSlot.message + have, text, add + 1);
}

static void Report(const char* caption, const char* message, const char* detail, ErrorKind kind) {
  theErrorSlot.caption = caption;
  theErrorSlot.kind = kind;
  // Callers pass a fixed text or a path: at most 515 characters. Cut a
  // longer one rather than overrun the slot.
  size_t n = strlen(message);
  if (n > ERROR_MESSAGE_SIZE - 1) n = ERROR_MESSAGE_SIZE - 1;
  memcpy(theErrorSlot.message, message, n);
  theErrorSlot.message[n] = 0;
  theErrorSlot.detailAt = static_cast<uint16_t>(n);
  AppendError(detail);
}

void ReportFailure(const char* message, const char* detail, ErrorKind kind) {
  Report(CAPTION_CANNOT_INSTALL, message, detail, kind);
}

void ReportDefect(const char* message, const char* detail, ErrorKind kind) {
  Report(CAPTION_BUG, message, detail, kind);
}

}  // namespace popbox
