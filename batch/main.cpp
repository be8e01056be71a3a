// zrvimage-batch: the window's three operations for many files from the command line.

#include "batch/Runner.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> interrupted{false};
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

}  // namespace

int main(int argc, char* argv[])
{
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
}
