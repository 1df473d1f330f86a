#include "interruption.h"

#include <signal.h>

#include <atomic>
#include <csignal>
#include <initializer_list>

namespace {

// Set by the handler and read by the threads that commit replicates: an
// atomic that needs no lock is safe in a handler and between threads.
std::atomic<int> noted_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the noted signal must be set without a lock");

extern "C" void note_signal(int signal_number)
{
    noted_signal = signal_number;
}

}  // namespace

void note_interruptions()
{
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    // Interrupted writes and reads carry on, so that no file is left half
    // written by the signal itself; the handler is used once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signal_number : {SIGINT, SIGTERM}) {
        // A signal the caller chose to ignore (a shell's background job, nohup)
        // stays ignored.
        struct sigaction inherited {};
        if (sigaction(signal_number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(signal_number, &action, nullptr);
    }
}

int interrupting_signal()
{
    return noted_signal;
}

const char* signal_name(int signal_number)
{
    switch (signal_number) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "a signal";
    }
}
