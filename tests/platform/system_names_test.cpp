// The Windows name translation; on other systems names go to the system as
// they are, so there is nothing to test.
#ifdef _WIN32
#include "platform/system_names.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace tarvel::platform {
namespace {

TEST(SystemNames, SlashesBecomeBackslashes) {
  const struct {
    const char* name;
    const char* native;
  } rows[] = {
      {"data.txt", "data.txt"},
      {"sub/data.txt", "sub\\data.txt"},
      {"/abs/sub/", "\\abs\\sub\\"},
      {"mixed\\and/slash", "mixed\\and\\slash"},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(with_backslashes(row.name), row.native) << row.name;
}

TEST(SystemNames, WideNamesDecodeTheCodePage) {
  EXPECT_EQ(wide_name("a/b.txt", CP_UTF8), std::wstring(L"a\\b.txt"));
  EXPECT_EQ(wide_name("d\xC3\xA4ta\xE2\x82\xAC.txt", CP_UTF8),
            std::wstring(L"d\u00E4ta\u20AC.txt"));
  EXPECT_EQ(wide_name("d\xE4ta.txt", 1252), std::wstring(L"d\u00E4ta.txt"));
  // Not UTF-8, and a NUL inside: no name at all.
  EXPECT_FALSE(wide_name("d\xE4ta.txt", CP_UTF8).has_value());
  EXPECT_FALSE(wide_name(std::string("a\0b", 3), CP_UTF8).has_value());
}

}  // namespace
}  // namespace tarvel::platform
#endif
