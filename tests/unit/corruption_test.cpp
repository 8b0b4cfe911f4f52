// A small real payload damaged every way one byte can be, and cut at every
// length: loading the script and extracting never crash (the sanitizer
// build watches), end with true or a known message, write nothing beside
// the install folder, and leave the reader closed. Host only.
#include <gtest/gtest.h>
#include <string.h>

#include "install/extract.h"
#include "support.h"

using namespace popbox;

namespace {

const char kScript[] =
    "[Vendor]\r\nName=\r\nURL=\r\n\r\n[Install]\r\nTitle=Setup\r\nLinkTarget=Viewer.exe\r\n";
const char* const kKnown[] = {"Bug: File Corrupted. Can't Read BLOBs.",
                              "Bug: Unknown BLOB Type",
                              "Cannot Install: Can't create directory ",
                              "Cannot Install: Can't create file ",
                              "Bug: Bad BLOB Name: ",
                              "Bug: Path Too Long: ",
                              "Cannot Install: Can't save file "};

std::string Outcome(const test::Bytes& image) {
  test::TempFolder temp;
  test::fs::create_directory(temp / "App");
  test::OwnFile own(image);
  ScriptDocument script;
  script.LoadFromPayload("Setup.ini");
  ClearError();
  bool ok = ExtractPayload((temp / "App").c_str(), "Store", "https://shop.example/");
  std::string report = test::Report(), fault;
  char name[NAME_BUFFER_SIZE];
  uint8_t* data = nullptr;
  uint32_t size, type;
  if (thePayload.ReadNextBlob(name, &data, &size, &type)) fault = "the reader stayed open; ";
  ReleaseBlob(data);
  if (std::distance(test::fs::directory_iterator(temp.path), {}) != 1) fault += "wrote beside; ";
  if (ok) return fault + (report == ": " ? "installed" : "installed with " + report);
  for (const char* known : kKnown) {
    if (report.compare(0, strlen(known), known) == 0) return fault + known;
  }
  return fault + "unknown report " + report;
}

TEST(Corruption, EveryByteAndEveryLength) {
  theScript.LoadFromText(kScript, int32_t(strlen(kScript)));
  test::Image image;
  image.File("Setup.ini", kScript)
      .Folder("Docs")
      .Record(BLOB_FILE, "Docs\\readme.txt",
              {'a', 'b', 'c', 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00}, 21)
      .Record(BLOB_FILE, "Viewer.exe", {'M', 'Z', 0xDF, 0xDF, 0, 0xFF})
      .File("empty.txt", "")
      .End();
  ASSERT_EQ("installed", Outcome(image.bytes));
  std::map<std::string, int> outcomes;
  for (size_t at = PAYLOAD_OFFSET; at < image.bytes.size(); ++at) {
    for (uint8_t change :
         {uint8_t(image.bytes[at] ^ 0x01), uint8_t(image.bytes[at] ^ 0x80), uint8_t(0xFF)}) {
      test::Bytes damaged = image.bytes;
      damaged[at] = change;
      ++outcomes[Outcome(damaged)];
    }
    ++outcomes[Outcome(test::Bytes(image.bytes.begin(), image.bytes.begin() + at))];
  }
  for (const auto& o : outcomes) {
    printf("%6d  %s\n", o.second, o.first.c_str());
    bool known = o.first == "installed";
    for (const char* k : kKnown) known |= o.first == k;
    EXPECT_TRUE(known) << o.first;
  }
  theScript.Clear();
}

}  // namespace
