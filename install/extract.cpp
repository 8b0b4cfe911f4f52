#include "install/extract.h"

#include "base/error_slot.h"
#include "base/text.h"
#include "install/install_paths.h"
#include "platform/os_api.h"
#include "script/script_document.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

// The saved script: theScript as loaded, cut before [PRIVATE], with the
// store's name and web address written into [Vendor] where it has the keys.
bool SaveTrimmedScript(const char* path, const char* storeName, const char* webAddress) {
  ScriptDocument copy(theScript);
  copy.TruncateAtSection(SECTION_PRIVATE);
  if (copy.SelectSection(SECTION_VENDOR)) {
    if (*storeName) copy.SetValue(KEY_NAME, storeName);
    if (*webAddress) copy.SetValue(KEY_URL, webAddress);
  }
  if (!copy.SaveToFile(path)) {
    ReportFailure("Can't save file ", path);
    return false;
  }
  return true;
}

bool WriteFileRecord(const char* path, uint8_t* contents, uint32_t size) {
  FileHandle file = CreateForWriting(path);
  if (file == INVALID_FILE) {
    ReleaseBlob(contents);
    ReportFailure("Can't create file ", path);
    return false;
  }
  uint32_t written = 0;
  bool ok = WriteToFile(file, contents, size, &written) && written == size;
  ReleaseBlob(contents);
  CloseFile(file);
  if (!ok) {
    ReportFailure("Can't write file ", path);  // the partly written file stays
    return false;
  }
  return true;
}

// One record; takes ownership of its contents. Returns false to stop.
bool HandleRecord(const char* installDir, const char* name, uint8_t* contents, uint32_t size,
                  uint32_t type, const char* storeName, const char* webAddress) {
  if (type != BLOB_FOLDER && type != BLOB_FILE) {
    ReleaseBlob(contents);
    ReportDefect("Unknown BLOB Type");
    return false;
  }
  // A name must stay inside the install folder and the composed path must
  // fit its buffer; either fault is the package's, and nothing is written.
  char path[NAME_BUFFER_SIZE];
  if (!IsSafeRecordName(name)) {
    ReleaseBlob(contents);
    ReportDefect("Bad BLOB Name: ", name);
    return false;
  }
  if (!ComposePath(path, installDir, name)) {
    ReleaseBlob(contents);
    ReportDefect("Path Too Long: ", name);
    return false;
  }

  if (type == BLOB_FOLDER) {
    ReleaseBlob(contents);
    if (!MakeFolder(path)) {
      ReportFailure("Can't create directory ", path);
      return false;
    }
    return true;
  }
  if (EqualTextNoCase(name, SETUP_SCRIPT_NAME)) {
    ReleaseBlob(contents);  // its own bytes are never written
    return SaveTrimmedScript(path, storeName, webAddress);
  }
  return WriteFileRecord(path, contents, size);
}

}  // namespace

bool ExtractPayload(const char* installDir, const char* storeName, const char* webAddress,
                    PayloadStream& payload) {
  if (!payload.OpenPayload()) {
    ReportDefect("File Corrupted. Can't Find BLOBs.");
    return false;
  }
  for (;;) {
    char name[NAME_BUFFER_SIZE];
    uint8_t* contents = nullptr;
    uint32_t size = 0;
    uint32_t type = BLOB_END;
    if (!payload.ReadNextBlob(name, &contents, &size, &type)) {
      // The reader tells a want of memory only for sizes that an intact
      // record can have: that is the machine's condition, not damage.
      if (payload.LastFailure() == ReadFailure::OutOfMemory) {
        ReportFailure("Out of memory.");
      } else {
        ReportDefect("File Corrupted. Can't Read BLOBs.");
      }
      break;
    }
    if (type == BLOB_END) {
      ReleaseBlob(contents);
      payload.ClosePayload();
      return true;
    }
    if (!HandleRecord(installDir, name, contents, size, type, storeName, webAddress)) break;
  }
  payload.ClosePayload();
  return false;
}

}  // namespace popbox
