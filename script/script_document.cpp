#include "script/script_document.h"

#include <stdlib.h>
#include <string.h>

#include "base/error_slot.h"
#include "base/text.h"
#include "platform/os_api.h"

namespace popbox {

ScriptDocument theScript;

namespace {

// The address just past the next LF at or after p, or of the zero byte at
// the end of the text when no LF comes first.
const char* NextLine(const char* p) {
  while (*p && *p != '\n') ++p;
  return *p ? p + 1 : p;
}

const char* SkipWhiteSpace(const char* p) {
  while (IsWhiteSpace(static_cast<uint8_t>(*p))) ++p;
  return p;
}

// The first CR, LF or zero at or after p: where a value ends.
const char* ValueEnd(const char* p) {
  while (*p && *p != '\r' && *p != '\n') ++p;
  return p;
}

}  // namespace

// ---------------------------------------------------------------- the block

void ScriptDocument::Reserve(int32_t extra) {
  if (extra <= 0) return;
  int64_t needed = static_cast<int64_t>(length) + extra;
  if (needed <= capacity) return;
  // The script is a few kilobytes; a block that cannot be had ends the run.
  int64_t newCapacity = needed + RESERVE_SLACK;
  if (newCapacity > INT32_MAX) EndOnOutOfMemory();
  char* block = static_cast<char*>(malloc(static_cast<size_t>(newCapacity)));
  if (!block) EndOnOutOfMemory();
  if (length) memcpy(block, buffer, static_cast<size_t>(length));
  // Key queries scan from the cursor to a zero byte: a selected section
  // must keep its terminator when the block moves. The block always has
  // room for it, since it grows by RESERVE_SLACK beyond what is asked.
  block[length] = 0;
  if (cursor) cursor = block + (cursor - buffer);
  free(buffer);
  buffer = block;
  capacity = static_cast<int32_t>(newCapacity);
}

void ScriptDocument::Clear() {
  free(buffer);
  buffer = nullptr;
  cursor = nullptr;
  length = 0;
  capacity = 0;
}

ScriptDocument& ScriptDocument::CopyFrom(const ScriptDocument& other) {
  if (&other == this) return *this;
  Clear();
  if (other.length != 0) {
    Reserve(other.length);
    length = other.length;
    memcpy(buffer, other.buffer, static_cast<size_t>(length));
  }
  return *this;
}

char* ScriptDocument::TerminatedText() {
  Reserve(1);
  buffer[length] = 0;
  return buffer;
}

void ScriptDocument::LoadFromText(const char* text, int32_t textLength) {
  Clear();
  if (textLength <= 0) return;
  Reserve(textLength);
  memcpy(buffer, text, static_cast<size_t>(textLength));
  length = textLength;
}

bool ScriptDocument::LoadFromPayload(const char* name, PayloadStream& payload) {
  Clear();
  bool loaded = false;
  payload.OpenPayload();  // a failed open shows as a failed first read
  char recordName[NAME_BUFFER_SIZE];
  uint8_t* data = nullptr;
  for (;;) {
    ReleaseBlob(data);
    data = nullptr;
    uint32_t size = 0;
    uint32_t type = BLOB_END;
    if (!payload.ReadNextBlob(recordName, &data, &size, &type) || type == BLOB_END) {
      ReportDefect("Missing BLOB: ", name);
      break;
    }
    if (type != BLOB_FILE || !EqualTextNoCase(recordName, name)) continue;
    // A script too large for the document's 32-bit length is unusable.
    if (size > static_cast<uint32_t>(INT32_MAX - RESERVE_SLACK - 1)) {
      ReportDefect("Missing BLOB: ", name);
      break;
    }
    LoadFromText(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    loaded = true;
    break;
  }
  ReleaseBlob(data);
  payload.ClosePayload();
  return loaded;
}

bool ScriptDocument::SaveToFile(const char* path) const {
  FileHandle file = CreateForWriting(path);
  if (file == INVALID_FILE) return false;
  bool saved = true;
  if (length != 0) {
    uint32_t written = 0;
    saved = WriteToFile(file, buffer, static_cast<uint32_t>(length), &written) &&
            written == static_cast<uint32_t>(length);
  }
  CloseFile(file);
  if (!saved) RemoveFile(path);
  return saved;
}

// --------------------------------------------------------- queries and edits

char* ScriptDocument::FindSection(const char* name) {
  char* p = TerminatedText();
  uint32_t n = static_cast<uint32_t>(strlen(name));
  while (*p) {
    if (*p == '[' && EqualNoCase(p + 1, name, n) && p[1 + n] == ']') return p;
    p = const_cast<char*>(NextLine(p));
  }
  return p;
}

bool ScriptDocument::SelectSection(const char* name) {
  char* p = FindSection(name);
  cursor = const_cast<char*>(NextLine(p));
  return *p != 0;
}

bool ScriptDocument::FindKey(const char* key, char** value, int32_t* valueLength) const {
  if (!cursor) return false;
  uint32_t n = static_cast<uint32_t>(strlen(key));
  for (const char* p = cursor; *p && *p != '['; p = NextLine(p)) {
    if (!EqualNoCase(p, key, n)) continue;
    const char* q = SkipWhiteSpace(p + n);
    if (*q != '=') continue;
    *value = const_cast<char*>(q + 1);
    *valueLength = static_cast<int32_t>(ValueEnd(q + 1) - (q + 1));
    return true;
  }
  return false;
}

bool ScriptDocument::GetString(const char* key, char* buffer_, int32_t size) const {
  char* value;
  int32_t n;
  if (!FindKey(key, &value, &n)) {
    buffer_[0] = 0;
    return false;
  }
  while (n > 0 && IsWhiteSpace(static_cast<uint8_t>(*value))) ++value, --n;
  while (n > 0 && IsWhiteSpace(static_cast<uint8_t>(value[n - 1]))) --n;
  if (n >= size) n = size - 1;
  memcpy(buffer_, value, static_cast<size_t>(n));
  buffer_[n] = 0;
  return true;
}

bool ScriptDocument::GetBool(const char* key) const {
  char first[2];
  GetString(key, first, sizeof first);
  return first[0] == 'T' || first[0] == 't' || first[0] == 'Y' || first[0] == 'y' ||
         first[0] == '1';
}

void ScriptDocument::GetSectionText(const char* section, char* buffer_, int32_t size) {
  SelectSection(section);
  const char* p = cursor;
  while (*p && *p != '[') p = NextLine(p);
  int32_t n = static_cast<int32_t>(p - cursor);
  while (n > 0 && IsWhiteSpace(static_cast<uint8_t>(cursor[n - 1]))) --n;
  if (n >= size) n = size - 1;
  memcpy(buffer_, cursor, static_cast<size_t>(n));
  buffer_[n] = 0;
}

void ScriptDocument::TruncateAtSection(const char* name) {
  if (length == 0) return;
  // The search stops at the section's header, or at the first zero byte:
  // nothing after a zero byte is ever read, so none of it is kept either
  // (a [PRIVATE] behind it included).
  char* p = FindSection(name);  // may move the block: read buffer after it
  length = static_cast<int32_t>(p - buffer);
  cursor = nullptr;
}

bool ScriptDocument::SetValue(const char* key, const char* text) {
  int32_t newLength = static_cast<int32_t>(strlen(text));
  char* value;
  int32_t oldLength;
  if (!FindKey(key, &value, &oldLength)) return false;
  int32_t offset = static_cast<int32_t>(value - buffer);
  Reserve(newLength - oldLength);
  value = buffer + offset;
  memmove(value + newLength, value + oldLength, static_cast<size_t>(length - offset - oldLength));
  memcpy(value, text, static_cast<size_t>(newLength));
  length += newLength - oldLength;
  TerminatedText();
  return true;
}

}  // namespace popbox
