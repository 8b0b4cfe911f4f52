// The one pending error message and its caption.
#include "base/error_slot.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

using namespace popbox;

namespace {

TEST(ErrorSlot, ReportsKeepMessageDetailAndCaption) {
  std::string folder = "C:\\" + std::string(256, 'f');  // 259 characters, 273 in all
  ReportFailure("Cannot create ", folder.c_str());
  EXPECT_TRUE(HasError());
  EXPECT_EQ("Cannot create " + folder, ErrorMessage());
  EXPECT_STREQ("Cannot Install", ErrorCaption());

  ReportDefect("Missing BLOB: ", "Setup.ini");
  EXPECT_STREQ("Missing BLOB: Setup.ini", ErrorMessage()) << "a report replaces the last one";
  EXPECT_STREQ("Bug", ErrorCaption());

  ReportFailure("No detail");
  EXPECT_STREQ("No detail", ErrorMessage());
  EXPECT_STREQ("Cannot Install", ErrorCaption());

  ClearError();
  EXPECT_FALSE(HasError());
  EXPECT_STREQ("", ErrorCaption());
}

// A detail is appended whole or not at all: 515 characters fit, 516 do not.
TEST(ErrorSlot, OverlongDetailIsDroppedWhole) {
  std::string message(500, 'm');
  ReportFailure(message.c_str(), std::string(15, 'd').c_str());
  EXPECT_EQ(515u, strlen(ErrorMessage()));
  ReportFailure(message.c_str(), std::string(16, 'd').c_str());
  EXPECT_EQ(message, ErrorMessage());
  AppendError("!");
  AppendError(std::string(16, 'x').c_str());
  EXPECT_EQ(message + "!", ErrorMessage());

  std::string tooLong(600, 'l');  // longer than any caller passes: cut, not overrun
  ReportDefect(tooLong.c_str(), "detail");
  EXPECT_EQ(tooLong.substr(0, 515), ErrorMessage());
  ClearError();
}

}  // namespace
