#include "ui/show_error.h"

#include "base/error_slot.h"

namespace popbox {

void ShowError(HWND owner) {
  if (!HasError()) return;
  UINT style = MB_OK | MB_ICONHAND;
  if (!owner) style |= MB_TASKMODAL;
  MessageBoxA(owner, theErrorSlot.message, theErrorSlot.caption, style);
}

}  // namespace popbox
