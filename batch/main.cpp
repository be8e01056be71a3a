// zrvimage-batch: the window's three operations for many files from the command line.

#include "batch/Runner.h"

#include <atomic>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdio.h>
#else
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> interrupted{false};

#ifdef _WIN32

std::atomic<bool> finished{false};

// Ctrl-C, Ctrl-Break or the console closed: the running files stop at their next row
// and remove their temporary outputs, so nothing half-written is left behind. A
// second Ctrl-C ends the program at once. A closed console ends the process when this
// returns, so that case waits (Windows allows a few seconds) for the clean-up.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (interrupted.exchange(true)) ::ExitProcess(STATUS_CONTROL_C_EXIT);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int i = 0; i < 400 && !finished.load(); ++i) ::Sleep(10);
    }
    return TRUE;
}

std::string utf8Of(const wchar_t* text)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back();  // the terminating zero
    return out;
}

// The arguments as typed, in UTF-8: the narrow argv holds them in the ANSI code page,
// which loses every character outside it (Japanese on a Western Windows).
std::vector<std::string> arguments()
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) args.push_back(utf8Of(wide[i]));
    if (wide) ::LocalFree(wide);
    return args;
}

// Whether stderr is a console that understands the progress line's escape to clear the
// line (Windows 10 and later, once asked).
bool progressConsole()
{
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err == INVALID_HANDLE_VALUE || !::GetConsoleMode(err, &mode)) return false;
    return ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

#else

std::atomic<int> caughtSignal{0};

// Ctrl-C, a closed terminal or kill: the running files stop at their next row and
// remove their temporary outputs, so nothing half-written is left behind. A second
// signal ends the program at once.
void watchSignals(sigset_t signals)
{
    int signal = 0;
    if (::sigwait(&signals, &signal) != 0) return;
    caughtSignal = signal;
    interrupted = true;
    if (::sigwait(&signals, &signal) == 0) ::_exit(128 + signal);
}

#endif

}  // namespace

int main(int argc, char* argv[])
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    // The lines end in LF alone, as on every other system: text mode would make them
    // CRLF, and a script splitting the results on LF would keep a CR in the last value.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    // Japanese on the console whatever its code page; the messages are UTF-8.
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    const std::vector<std::string> args = arguments();
    const int status = batch::run(args, std::cout, std::cerr, progressConsole(), &interrupted);
    std::cout.flush();
    std::cerr.flush();
    finished = true;
    // Ended by Ctrl-C, as the console and the caller's scripts see it.
    if (interrupted.load()) ::ExitProcess(STATUS_CONTROL_C_EXIT);
    return status;
#else
    sigset_t signals;
    ::sigemptyset(&signals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaddset(&signals, s);
    // Before any thread starts, so that every thread inherits the mask and only the
    // watcher receives these signals.
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(watchSignals, signals).detach();

    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = batch::run(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, &interrupted);

    if (const int signal = caughtSignal.load()) {
        // End by the signal itself, as the shell and the caller's scripts expect.
        std::cout.flush();
        std::cerr.flush();
        ::signal(signal, SIG_DFL);
        ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        ::raise(signal);
    }
    return status;
#endif
}
