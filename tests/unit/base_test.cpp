// Text rules and the error slot.
#include <gtest/gtest.h>

#include <string>

#include "base/error_slot.h"
#include "base/text.h"
#include "support.h"

using namespace popbox;

namespace {

TEST(Text, TrimAndCase) {
  const struct {
    const char* text;
    const char* trimmed;
  } cases[] = {{" \t C:\\Apps \r\n", "C:\\Apps"},
               {"\x01x\x20", "x"},
               {"  ", ""},
               {"\xA0x\xA0", "\xA0x\xA0"},
               {"", ""}};
  for (const auto& c : cases) {
    std::string text = c.text;
    TrimText(&text[0]);
    EXPECT_STREQ(c.trimmed, text.c_str()) << c.text;
  }
  EXPECT_TRUE(EqualTextNoCase("Setup.INI", "setup.ini"));
  EXPECT_TRUE(EqualTextNoCase("AZ@[`{", "az@[`{"));
  EXPECT_FALSE(EqualTextNoCase("\xC9", "\xE9")) << "only A to Z fold";
  EXPECT_FALSE(EqualTextNoCase("Setup.ini", "Setup.in"));
}

TEST(ErrorSlot, ReportsAndLimits) {
  ClearError();
  EXPECT_FALSE(HasError());
  std::string folder(259, 'f');
  ReportFailure("Cannot create ", folder.c_str());
  EXPECT_EQ("Cannot Install: Cannot create " + folder, test::Report());
  ReportDefect("Macro Unknown: ", "Program files", ErrorKind::MacroUnknown);
  EXPECT_EQ("Bug: Macro Unknown: Program files", test::Report()) << "a report replaces the last";
  EXPECT_EQ(ErrorKind::MacroUnknown, LastErrorKind());
  EXPECT_STREQ("Program files", ErrorDetail());
  AppendError("!");
  EXPECT_EQ("Bug: Macro Unknown: Program files!", test::Report());
  // A detail is kept when it just fills the slot, else dropped whole.
  std::string message(500, 'm');
  ReportFailure(message.c_str(), std::string(15, 'd').c_str());
  EXPECT_EQ(message + std::string(15, 'd'), ErrorMessage());
  ReportFailure(message.c_str(), std::string(16, 'd').c_str());
  EXPECT_EQ(message, ErrorMessage());
  ClearError();
  EXPECT_EQ(": ", test::Report());
}

}  // namespace
