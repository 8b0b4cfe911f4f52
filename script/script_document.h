// The setup script "Setup.ini" in memory: one growable byte block, the
// number of text bytes in it, and a cursor on the selected section.
//
// Text format, in short: a section header is a line whose first byte is
// '[' followed directly by the name and ']'; a key line begins in its first
// byte with the key, then any white space, then '='; the value runs to the
// first CR, LF or the end. Names compare without regard to A-Z case. There
// is no quoting, escaping or comment syntax. The document never converts the
// text: its bytes are those of the payload record.
#pragma once

#include <stdint.h>

#include "payload/payload_stream.h"

namespace popbox {

constexpr int32_t RESERVE_SLACK = 256;  // spare bytes added to every growth

class ScriptDocument {
 public:
  ScriptDocument() : buffer(nullptr), cursor(nullptr), length(0), capacity(0) {}
  ScriptDocument(const ScriptDocument& other) : ScriptDocument() { CopyFrom(other); }
  ScriptDocument& operator=(const ScriptDocument& other) { return CopyFrom(other); }
  ~ScriptDocument() { Clear(); }

  // --- the block ---
  // Afterwards capacity >= length + extra; growth gives exactly what is
  // asked for plus RESERVE_SLACK, and the cursor keeps its offset.
  void Reserve(int32_t extra);
  void Clear();
  ScriptDocument& CopyFrom(const ScriptDocument& other);
  // Writes a zero byte behind the text and returns its first byte.
  char* TerminatedText();
  // Fills the document from the first file record of that name (A-Z case
  // ignored) of `payload`, by default the setup's own. On failure reports
  // "Missing BLOB: " and the name, as a defect.
  bool LoadFromPayload(const char* name, PayloadStream& payload = thePayload);
  // Writes exactly the text bytes; a short write leaves no file behind.
  bool SaveToFile(const char* path) const;

  // --- queries and edits ---
  // Address of the '[' of the first header of that section, or of the zero
  // byte behind the text when there is none.
  char* FindSection(const char* name);
  bool SelectSection(const char* name);
  bool FindKey(const char* key, char** value, int32_t* valueLength) const;
  bool GetString(const char* key, char* buffer, int32_t size) const;
  bool GetBool(const char* key) const;
  void GetSectionText(const char* section, char* buffer, int32_t size);
  void TruncateAtSection(const char* name);
  bool SetValue(const char* key, const char* text);
  // A path value with its folder macros expanded (folder_macros.cpp). The
  // buffer holds NAME_BUFFER_SIZE bytes. Reports its failures as defects.
  bool GetPath(const char* key, char* buffer) const;

  // Read access for tests and tools.
  const char* Text() const { return buffer; }
  int32_t Length() const { return length; }
  int32_t Capacity() const { return capacity; }
  const char* Cursor() const { return cursor; }

  // Loads text directly (host tools and tests): as LoadFromPayload, from
  // bytes already in memory.
  void LoadFromText(const char* text, int32_t textLength);

 private:
  char* buffer;    // owned; null exactly when capacity is 0
  char* cursor;    // line after the selected header, or null
  int32_t length;  // text bytes
  int32_t capacity;
};

// The one long-lived script document: "Setup.ini" as loaded at start-up.
// Empty from static initialisation until the entry loads it; afterwards
// only read. Its block is released when the process exits normally.
extern ScriptDocument theScript;

}  // namespace popbox
