// The error slot: the one pending error message of the process and its
// caption. Every operation that does work and fails writes its reason here
// and returns false; only the entry and the setup dialog show it.
#pragma once

#include <stdint.h>

namespace popbox {

constexpr uint32_t ERROR_MESSAGE_SIZE = 516;  // at most 515 characters

// Captions: who is at fault.
extern const char CAPTION_CANNOT_INSTALL[];  // the user's machine or input
extern const char CAPTION_BUG[];             // the setup package itself

struct ErrorSlot {
  char message[ERROR_MESSAGE_SIZE];  // empty: no error is pending
  const char* caption;               // "", CAPTION_CANNOT_INSTALL or CAPTION_BUG
};

extern ErrorSlot theErrorSlot;

void ClearError();
bool HasError();
// Appends `text` only when the whole of it fits; otherwise drops it whole.
void AppendError(const char* text);
// A condition of the machine or of the user's input.
void ReportFailure(const char* message, const char* detail = "");
// A defect of the setup package.
void ReportDefect(const char* message, const char* detail = "");

inline const char* ErrorMessage() { return theErrorSlot.message; }
inline const char* ErrorCaption() { return theErrorSlot.caption; }

}  // namespace popbox
