#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/system_names.h"

namespace tarvel::platform {
namespace {

HANDLE native(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle handle_of(HANDLE native_handle) {
  return native_handle == INVALID_HANDLE_VALUE ? kNoFile
                                               : reinterpret_cast<FileHandle>(native_handle);
}

// Other processes may read, write, rename and delete the file meanwhile, as
// they may on POSIX; one that holds it without sharing makes the open fail.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ReadFile and WriteFile take 32-bit sizes.
DWORD part_size(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
}

HANDLE open_existing_for_reading(const std::wstring& name) {
  return ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// True when the system resolves `name` into the device namespace (\\.\).
bool is_device_name(const std::wstring& name) {
  wchar_t full[16];
  const DWORD length = ::GetFullPathNameW(name.c_str(), 16, full, nullptr);
  return length >= 4 && length < 16 && std::wstring_view(full, 4) == L"\\\\.\\";
}

// The system's error as an error number of <cerrno>, for the failures a
// file's open, creation or write meets; EIO for any other.
int error_number_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

}  // namespace

int last_error_number() {
  return error_number_of(::GetLastError());
}

OpenedInput open_input(std::string_view name) {
  const std::optional<std::wstring> path = wide_system_name(name);
  if (!path) return {InputOpening::kRefused, kNoFile, ENOENT};
  const HANDLE file = open_existing_for_reading(*path);
  if (file == INVALID_HANDLE_VALUE) {
    const int error_number = last_error_number();
    // A folder cannot be opened as a file at all.
    const DWORD attributes = ::GetFileAttributesW(path->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return {InputOpening::kFolder, kNoFile, EISDIR};
    }
    // A device name (CON, COM1, LPT1.txt, in any folder) names a device even
    // when it cannot be opened, as CON cannot without a console.
    if (is_device_name(*path)) return {InputOpening::kNotRegular, kNoFile};
    return {InputOpening::kRefused, kNoFile, error_number};
  }
  // Only a file on a disk has a size that says where its data ends: NUL,
  // CON, a pipe or a serial port are devices read without end.
  if (!regular_file_version(handle_of(file))) {
    ::CloseHandle(file);
    return {InputOpening::kNotRegular, kNoFile};
  }
  return {InputOpening::kRegularFile, handle_of(file)};
}

FileHandle open_for_reading(std::string_view name) {
  const std::optional<std::wstring> path = wide_system_name(name);
  if (!path) return kNoFile;
  return handle_of(open_existing_for_reading(*path));
}

FileHandle create_for_writing(std::string_view name) {
  const std::optional<std::wstring> path = wide_system_name(name);
  if (!path) return kNoFile;
  return handle_of(::CreateFileW(path->c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::size_t read_some(FileHandle file, unsigned char* into, std::size_t size) {
  DWORD got = 0;
  if (!::ReadFile(native(file), into, part_size(size), &got, nullptr)) return 0;
  return got;
}

std::size_t read_at(FileHandle file, unsigned char* into, std::size_t size, std::uint64_t offset) {
  std::size_t got = 0;
  while (got < size) {
    OVERLAPPED at{};
    const std::uint64_t from = offset + got;
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD part = 0;
    if (!::ReadFile(native(file), into + got, part_size(size - got), &part, &at) || part == 0) {
      break;
    }
    got += part;
  }
  return got;
}

bool seek_to(FileHandle file, std::uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(native(file), distance, nullptr, FILE_BEGIN) != 0;
}

bool write_fully(FileHandle file, const void* bytes, std::size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(native(file), next, part_size(size), &written, nullptr) || written == 0) {
      return false;
    }
    next += written;
    size -= written;
  }
  return true;
}

void close_file(FileHandle file) {
  ::CloseHandle(native(file));
}

std::optional<FileVersion> regular_file_version(FileHandle file) {
  if (::GetFileType(native(file)) != FILE_TYPE_DISK) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(native(file), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  // The write time counts 100-nanosecond steps.
  const std::uint64_t written = (std::uint64_t{information.ftLastWriteTime.dwHighDateTime} << 32) |
                                information.ftLastWriteTime.dwLowDateTime;
  FileVersion version;
  version.volume = information.dwVolumeSerialNumber;
  version.file_id = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  version.size = static_cast<std::int64_t>((std::uint64_t{information.nFileSizeHigh} << 32) |
                                           information.nFileSizeLow);
  version.modified_seconds = static_cast<std::int64_t>(written / 10000000);
  version.modified_nanoseconds = static_cast<std::int64_t>(written % 10000000 * 100);
  return version;
}

}  // namespace tarvel::platform
