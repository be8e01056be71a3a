#pragma once
// The built zrvimage-batch started as a process of its own, as a user's script starts
// it: arguments in UTF-8, standard output and error kept, the exit status as the
// caller sees it.

#include "engine/platform/Platform.h"

#include "BmpFixture.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;
#endif

namespace batch_testing {

// The program beside the tests in the build folder. A cross-build knows it only by a
// path of the building system, so on Windows it is found from the test program's own
// folder.
inline std::filesystem::path batchProgram()
{
#ifdef _WIN32
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return (std::filesystem::path(self).parent_path() / ZRV_BATCH_PROGRAM).lexically_normal();
#else
    return ZRV_BATCH_PROGRAM;
#endif
}

// The exit status std::system's value stands for.
inline int exitStatusOf(int systemResult)
{
#ifdef _WIN32
    return systemResult;  // cmd's own exit status, the program's
#else
    return WIFEXITED(systemResult) ? WEXITSTATUS(systemResult) : 128 + WTERMSIG(systemResult);
#endif
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

#ifdef _WIN32
namespace detail {

inline std::wstring wide(const std::string& utf8)
{
    return engine::platform::pathOf(utf8).native();
}

// One argument as CommandLineToArgvW reads it back: quoted, backslashes doubled
// before a quote and at the end.
inline void appendQuoted(std::wstring& line, const std::wstring& arg)
{
    line += L" \"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
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

inline HANDLE inheritableFile(const std::filesystem::path& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace detail
#endif

// Runs the program with args; its output goes through files in scratch (a folder of
// the test's own, left with them).
inline ProgramRun runProgram(const std::vector<std::string>& args, const std::filesystem::path& scratch)
{
    const auto outFile = scratch / "program.stdout";
    const auto errFile = scratch / "program.stderr";
    ProgramRun run;
#ifdef _WIN32
    const std::filesystem::path program = batchProgram();
    std::wstring line = L"\"" + program.native() + L"\"";
    for (const auto& arg : args) detail::appendQuoted(line, detail::wide(arg));
    HANDLE out = detail::inheritableFile(outFile);
    HANDLE err = detail::inheritableFile(errFile);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const bool started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE
        && ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
    if (!started) return run;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    run.status = static_cast<int>(code);
#else
    const std::string program = batchProgram();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    run.status = exitStatusOf(raw);
#endif
    const auto outBytes = testing_support::readFile(outFile);
    const auto errBytes = testing_support::readFile(errFile);
    run.out.assign(outBytes.begin(), outBytes.end());
    run.err.assign(errBytes.begin(), errBytes.end());
    return run;
}

}  // namespace batch_testing
