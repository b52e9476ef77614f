#include <windows.h>

#include <algorithm>

#include "platform/system_names.h"

namespace tarvel::platform {

std::string with_backslashes(std::string_view name) {
  std::string native(name);
  std::replace(native.begin(), native.end(), '/', '\\');
  return native;
}

std::optional<std::wstring> wide_name(std::string_view name, unsigned code_page) {
  // A name with a NUL in it names no file at all rather than a shorter one.
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  if (name.empty()) return std::wstring();
  const std::string native = with_backslashes(name);
  const DWORD flags = code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  const int length = ::MultiByteToWideChar(code_page, flags, native.data(),
                                           static_cast<int>(native.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(code_page, flags, native.data(), static_cast<int>(native.size()),
                        wide.data(), length);
  return wide;
}

std::optional<std::wstring> wide_system_name(std::string_view name) {
  // The arguments arrive in the active code page, which the manifest makes
  // UTF-8 where Windows honours it.
  return wide_name(name, ::GetACP());
}

}  // namespace tarvel::platform
