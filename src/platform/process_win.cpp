#include <windows.h>

#include <memory>

#include "platform/os_error.hpp"
#include "platform/process_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/unique_handle_win.hpp"

namespace korvex::platform {
namespace {

struct Pipe {
  UniqueHandle read;
  UniqueHandle write;
};

// A pipe whose `child_end` alone is inherited by the program started.
Result<Pipe> make_pipe(bool child_reads) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) {
    return fail(last_os_error_text());
  }
  Pipe pipe{UniqueHandle(read), UniqueHandle(write)};
  HANDLE ours = child_reads ? write : read;
  if (!SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0)) {
    return fail(last_os_error_text());
  }
  return pipe;
}

void read_all(HANDLE from, std::string& into) {
  char buffer[4096];
  DWORD got = 0;
  // Ends with ERROR_BROKEN_PIPE once the program and every copy of its end are gone.
  while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    into.append(buffer, got);
  }
}

struct ErrorReader {
  HANDLE from;
  std::string text;
};

DWORD WINAPI read_error_stream(void* reader) {
  auto* r = static_cast<ErrorReader*>(reader);
  read_all(r->from, r->text);
  return 0;
}

// Lets the program inherit exactly `handles` and nothing else the process
// holds open, whatever other threads are doing with inheritable handles.
class InheritList {
 public:
  Result<void> init(HANDLE* handles, size_t count) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_ = std::make_unique<char[]>(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      storage_.reset();
      return fail(last_os_error_text());
    }
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                   count * sizeof(HANDLE), nullptr, nullptr)) {
      return fail(last_os_error_text());
    }
    return {};
  }
  ~InheritList() {
    if (storage_) {
      DeleteProcThreadAttributeList(get());
    }
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
  }

 private:
  std::unique_ptr<char[]> storage_;
};

}  // namespace

std::string quote_argument(std::string_view argument, bool always_quote) {
  if (!always_quote && !argument.empty() &&
      argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  // Backslashes are literal except in a run that ends at a double quote,
  // where each pair stands for one; the closing quote counts too.
  std::string out = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

Result<std::string> system_program_path(std::string_view file_name) {
  wchar_t directory[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(directory, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    return fail(last_os_error_text());
  }
  return utf16_to_utf8(directory, static_cast<int>(length)) + "\\" + std::string(file_name);
}

Result<ProcessOutput> run_program(const std::string& program,
                                  const std::vector<std::string>& arguments) {
  // The program's own name is read without escapes: quotes alone keep its spaces.
  std::string command_line = "\"" + program + "\"";
  for (const auto& argument : arguments) {
    command_line += ' ';
    command_line += quote_argument(argument);
  }

  auto input = make_pipe(true);
  auto output = make_pipe(false);
  auto error = make_pipe(false);
  for (const Result<Pipe>* pipe : {&input, &output, &error}) {
    if (!*pipe) {
      return fail(pipe->error());
    }
  }
  // Nothing is ever written: the program reads end of input at once.
  input->write.reset();

  HANDLE inherited[] = {input->read.get(), output->write.get(), error->write.get()};
  InheritList inherit;
  if (auto made = inherit.init(inherited, 3); !made) {
    return fail(made.error());
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input->read.get();
  startup.StartupInfo.hStdOutput = output->write.get();
  startup.StartupInfo.hStdError = error->write.get();
  startup.lpAttributeList = inherit.get();

  std::wstring wide_program = utf8_to_utf16(program);
  std::wstring wide_command = utf8_to_utf16(command_line);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(wide_program.c_str(), wide_command.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
                      nullptr, nullptr, &startup.StartupInfo, &started)) {
    return fail(last_os_error_text());
  }
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  // Only the program may hold the writing ends now, or the reads never end.
  input->read.reset();
  output->write.reset();
  error->write.reset();

  // Both streams are drained at once: a program that fills one pipe while we
  // wait on the other would otherwise block for ever.
  ProcessOutput result;
  ErrorReader error_reader{error->read.get(), {}};
  UniqueHandle error_thread(CreateThread(nullptr, 0, read_error_stream, &error_reader, 0, nullptr));
  if (!error_thread) {
    const std::string cause = last_os_error_text();
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
    return fail(cause);
  }
  read_all(output->read.get(), result.standard_output);
  WaitForSingleObject(error_thread.get(), INFINITE);
  result.standard_error = std::move(error_reader.text);

  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) {
    return fail(last_os_error_text());
  }
  result.exit_code = code;
  return result;
}

}  // namespace korvex::platform
