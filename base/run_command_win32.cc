// Commands on Windows: CreateProcess with a command line quoted so that the
// child's C runtime splits it back into the same words, in a job object
// that ends the command and every process it started together, at the time
// limit, and with the run itself, should it end first.
#include "base/run_command.h"

#include <windows.h>

#include "base/win32_support.h"

namespace {

// One word as the Microsoft C runtime reads it back: in quotes when it
// holds a blank, a tab or a quote, or is empty; a quote, and the
// backslashes before a quote or the closing one, doubled with a backslash.
std::wstring quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
  std::wstring result = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    result.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  result.append(2 * backslashes, L'\\');
  return result + L"\"";
}

std::wstring commandLine(const std::vector<std::string>& words) {
  std::wstring line;
  for (const std::string& word : words) {
    if (!line.empty()) line += L' ';
    line += quoted(widePath(word));
  }
  return line;
}

// Moves what waits in the pipe into the output.
void drain(HANDLE pipe, std::string* output) {
  char bytes[4096];
  DWORD waiting = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
    DWORD got = 0;
    if (!ReadFile(pipe, bytes, sizeof bytes, &got, nullptr) || got == 0) return;
    keepOutput(output, bytes, got);
  }
}

HANDLE killingJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

std::string cannotStart(const Command& command) {
  return "cannot start " + (command.words.empty() ? std::string() : command.words[0]) + ": " +
         systemErrorText();
}

}  // namespace

CommandResult runCommand(const Command& command) {
  CommandResult result;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, kFullSharing, &inherited, OPEN_EXISTING, 0,
                             nullptr);
  if (command.words.empty() || !CreatePipe(&readEnd, &writeEnd, &inherited, 0) ||
      input == INVALID_HANDLE_VALUE) {
    result.output = cannotStart(command);
    for (HANDLE handle : {readEnd, writeEnd, input}) {
      if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    return result;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine(command.words);
  HANDLE job = killingJob();
  const bool started =
      CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE,
                     CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr,
                     systemPath(command.directory).c_str(), &startup, &process) != 0;
  if (!started) result.output = cannotStart(command);
  CloseHandle(writeEnd);
  CloseHandle(input);
  if (started) {
    if (job != nullptr) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    const ULONGLONG deadline = GetTickCount64() + 1000ull * command.timeLimitSeconds;
    bool ended = false;
    while (!ended && GetTickCount64() < deadline) {
      ended = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
      drain(readEnd, &result.output);
    }
    // Without a job object (the system refused one) the command is ended
    // alone.
    if (!ended) TerminateProcess(process.hProcess, 1);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    result.end = ended ? CommandEnd::Exited : CommandEnd::TimedOut;
    result.status = static_cast<int>(status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  // Whatever the command started goes with it; at the deadline, the
  // command too.
  if (job != nullptr) {
    TerminateJobObject(job, 1);
    CloseHandle(job);
  }
  CloseHandle(readEnd);
  return result;
}
