#include <windows.h>

#include <string>

#include "platform/platform.hpp"

namespace vantor::platform {

// Win32 error codes are positive; NTSTATUS failures (BCryptGenRandom's) have the top bit set,
// and their messages live in ntdll.
std::string error_text(int code) {
  char buffer[512];
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE source = nullptr;
  if (code < 0) {
    source = GetModuleHandleW(L"ntdll.dll");
    if (source != nullptr) flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS;
  }
  DWORD length = FormatMessageA(flags, source, static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
                                buffer, sizeof buffer, nullptr);
  if (length == 0) length = FormatMessageA(flags, source, static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  // Messages end with a line break (and often a full stop) meant for a dialog box.
  while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' || buffer[length - 1] == ' ' ||
                        buffer[length - 1] == '.'))
    --length;
  if (length == 0) return "Unknown error " + std::to_string(code);
  return std::string(buffer, length);
}

}  // namespace vantor::platform
