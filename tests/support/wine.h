// Whether a Windows test program runs under Wine, which differs from Windows
// in a few ways the tests have to allow for.
#pragma once

#ifdef _WIN32
#include <windows.h>

namespace tarvel::testing {

inline bool running_under_wine() {
  return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace tarvel::testing
#endif
