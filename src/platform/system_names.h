// File names as the system takes them. The tool's names are byte strings;
// on Windows each "/" becomes "\" and the bytes are read in the process's
// code page (UTF-8 under the executable's manifest) and widened.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel::platform {

// `name` with every "/" turned into "\". Allocates.
std::string with_backslashes(std::string_view name);

// The UTF-16 name the wide Windows calls take: the bytes with backslashes,
// decoded in `code_page`. None when the name holds a NUL byte or is not valid
// in that code page. Allocates.
std::optional<std::wstring> wide_name(std::string_view name, unsigned code_page);

// wide_name in the process's own code page.
std::optional<std::wstring> wide_system_name(std::string_view name);

}  // namespace tarvel::platform
