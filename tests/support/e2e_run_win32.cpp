#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "support/e2e_run.h"

namespace tarvel::testing {
namespace {

std::wstring wide(const std::string& text) {
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(),
                        length);
  return converted;
}

// Appends `word` so that the C runtime's splitting of the command line gives
// it back unchanged: quoted when it is empty or holds a blank or a quote,
// each quote escaped, and the backslashes before a quote doubled.
void append_word(std::wstring& line, const std::wstring& word) {
  if (!line.empty()) line += L' ';
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += word;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

HANDLE open_inheritable(const std::string& name, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(wide(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A pipe whose writing end alone is inherited by the tool.
bool make_pipe(HANDLE& reading, HANDLE& writing) {
  if (!::CreatePipe(&reading, &writing, nullptr, 0)) return false;
  ::SetHandleInformation(writing, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return true;
}

void close_if_open(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
}

// Reads the pipe to its end and closes it; nothing for -1.
void drain(std::intptr_t pipe, std::string& into) {
  if (pipe == -1) return;
  const HANDLE handle = reinterpret_cast<HANDLE>(pipe);
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    into.append(buffer, got);
  }
  ::CloseHandle(handle);
}

}  // namespace

StartedRun start_tarvel(const TempFolder& folder, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& prefix, Streams streams) {
  std::wstring line;
  for (const std::string& word : command_words(prefix, arguments)) append_word(line, wide(word));

  StartedRun started;
  HANDLE out_reading = INVALID_HANDLE_VALUE;
  HANDLE out_writing = INVALID_HANDLE_VALUE;
  HANDLE err_reading = INVALID_HANDLE_VALUE;
  HANDLE err_writing = INVALID_HANDLE_VALUE;
  if (streams == Streams::kFiles) {
    started.stream_files = std::make_shared<TempFolder>();
    out_writing = open_inheritable(started.stream_files->file("out"), GENERIC_WRITE, CREATE_ALWAYS);
    err_writing = open_inheritable(started.stream_files->file("err"), GENERIC_WRITE, CREATE_ALWAYS);
  } else if (make_pipe(out_reading, out_writing) && make_pipe(err_reading, err_writing) &&
             streams == Streams::kUnreadOutput) {
    ::CloseHandle(out_reading);
    out_reading = INVALID_HANDLE_VALUE;
  }
  const HANDLE input = open_inheritable("NUL", GENERIC_READ, OPEN_EXISTING);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = out_writing;
  startup.hStdError = err_writing;
  PROCESS_INFORMATION process{};
  const bool created = out_writing != INVALID_HANDLE_VALUE && err_writing != INVALID_HANDLE_VALUE &&
                       input != INVALID_HANDLE_VALUE &&
                       ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        wide(folder.path()).c_str(), &startup, &process);
  for (HANDLE end : {input, out_writing, err_writing}) close_if_open(end);
  if (!created) {
    for (HANDLE end : {out_reading, err_reading}) close_if_open(end);
    ADD_FAILURE() << "cannot start " << tarvel_binary() << " (error " << ::GetLastError() << ")";
    return started;
  }
  ::CloseHandle(process.hThread);
  started.process = reinterpret_cast<std::intptr_t>(process.hProcess);
  started.out = reinterpret_cast<std::intptr_t>(out_reading);
  started.err = reinterpret_cast<std::intptr_t>(err_reading);
  return started;
}

RunResult finish_tarvel(StartedRun& run) {
  RunResult result;
  if (run.process == -1) return result;
  // Standard error on a thread of its own, so that neither pipe can fill
  // and stop the tool.
  std::thread errors(drain, run.err, std::ref(result.err));
  drain(run.out, result.out);
  errors.join();
  const HANDLE process = reinterpret_cast<HANDLE>(run.process);
  ::WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  if (::GetExitCodeProcess(process, &code)) result.status = static_cast<int>(code);
  ::CloseHandle(process);
  run.process = -1;
  if (run.stream_files) {
    result.out = read_file(run.stream_files->file("out"));
    result.err = read_file(run.stream_files->file("err"));
  }
  return result;
}

}  // namespace tarvel::testing
