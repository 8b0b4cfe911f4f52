// The error slot: the one pending error message of the process and its
// caption. Every operation that does work and fails writes its reason here
// and returns false; only the entry and the setup dialog show it.
//
// Beside the text the slot keeps the kind of failure and where the detail
// begins, so that tools which explain a failure (the packer's check) need
// not take the message apart.
#pragma once

#include <stdint.h>

namespace popbox {

constexpr uint32_t ERROR_MESSAGE_SIZE = 516;  // at most 515 characters

// Captions: who is at fault.
extern const char CAPTION_CANNOT_INSTALL[];  // the user's machine or input
extern const char CAPTION_BUG[];             // the setup package itself

// The failures that callers tell apart; everything else is Other.
enum class ErrorKind : uint8_t {
  None,
  Other,
  SymbolUndefined,  // "INI Symbol Undefined: " key
  MacroUnknown,     // "Macro Unknown: " name
  MacroUndefined,   // "Macro Undefined: " name
  StringOverflow,   // "String Overflow"
};

struct ErrorSlot {
  char message[ERROR_MESSAGE_SIZE];  // empty: no error is pending
  const char* caption;               // "", CAPTION_CANNOT_INSTALL or CAPTION_BUG
  ErrorKind kind;
  uint16_t detailAt;  // where the detail of the last report begins in message
};

extern ErrorSlot theErrorSlot;

void ClearError();
bool HasError();
// Appends `text` only when the whole of it fits; otherwise drops it whole.
void AppendError(const char* text);
// A condition of the machine or of the user's input.
void ReportFailure(const char* message, const char* detail = "", ErrorKind kind = ErrorKind::Other);
// A defect of the setup package.
void ReportDefect(const char* message, const char* detail = "", ErrorKind kind = ErrorKind::Other);

inline const char* ErrorMessage() { return theErrorSlot.message; }
inline const char* ErrorCaption() { return theErrorSlot.caption; }
inline ErrorKind LastErrorKind() { return theErrorSlot.kind; }
// The detail of the last report (a key, a macro name, a path), or empty
// when it was dropped for want of room.
inline const char* ErrorDetail() { return theErrorSlot.message + theErrorSlot.detailAt; }

}  // namespace popbox
