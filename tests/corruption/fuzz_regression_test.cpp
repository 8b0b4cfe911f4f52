// Faults the fuzz targets found, kept as plain tests. The sanitizer build
// turns each of them into a report if it comes back.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "script/script_document.h"

namespace {

// A block that grows while a section is selected must keep the zero byte
// behind the text: key queries scan from the cursor up to it. Without it
// the scan ran into the uninitialised rest of the new block and past it.
TEST(FuzzRegression, GrowingTheBlockKeepsTheSelectedTextTerminated) {
  const std::string text = "[S]\r\nkey";  // a key line without '=' at the very end
  popbox::ScriptDocument doc;
  doc.LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  ASSERT_TRUE(doc.SelectSection("S"));
  const char* before = doc.Text();
  doc.Reserve(doc.Capacity());  // forces a new block
  ASSERT_NE(before, doc.Text());
  EXPECT_EQ(0, doc.Text()[doc.Length()]);

  char value[16] = "untouched";
  EXPECT_FALSE(doc.GetString("key", value, sizeof value));
  EXPECT_STREQ("", value);
  EXPECT_FALSE(doc.SetValue("key", "x"));
  EXPECT_EQ(text, std::string(doc.Text(), static_cast<size_t>(doc.Length())));
}

}  // namespace
