// Ctrl+C, Ctrl+Break and the console's closing during a build, through the console's control
// handler. The handler runs on a thread of its own that the system starts; it records the
// event under the number of the POSIX signal of the same meaning, so that the build ends at
// the same points and the program's exit status (128 + the number) is the one a shell gives
// for the signal on Linux: Ctrl+C and Ctrl+Break are SIGINT (130), a closed console, a
// logoff or a shutdown SIGHUP (129).
#include "platform/interrupts.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

constexpr int kHangup = 1;     // SIGHUP
constexpr int kInterrupt = 2;  // SIGINT

std::atomic<int> g_signal{0};
int g_catches = 0;
bool g_deferred = false;  // raiseCaught keeps the signal for raiseDeferredInterrupt
int g_pending = 0;
// Set once the build has let go of what it held (or no build runs): a closing console's
// handler waits for it, since the system ends the process as soon as the handler returns.
HANDLE g_released = nullptr;

[[noreturn]] void raiseAgain(int signal) {
    ExitProcess(static_cast<UINT>(128 + signal));
}

BOOL WINAPI recordEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            g_signal = kInterrupt;
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            g_signal = kHangup;
            // The system allows a closing console's programs about five seconds.
            if (g_released != nullptr) WaitForSingleObject(g_released, 4500);
            return TRUE;
        default:
            return FALSE;
    }
}

// Outside a build, Ctrl+C and Ctrl+Break end the program as SIGINT does on Linux, rather than
// with the system's own status for it (STATUS_CONTROL_C_EXIT). A build's catch, installed
// later, is asked first and keeps the event.
BOOL WINAPI endAsInterrupted(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) raiseAgain(kInterrupt);
    return FALSE;
}

[[maybe_unused]] const bool g_endsAsInterrupted = SetConsoleCtrlHandler(endAsInterrupted, TRUE);

}  // namespace

struct InterruptCatch::Previous {};

InterruptCatch::InterruptCatch() {
    m_outer = g_catches++ == 0;
    if (!m_outer) return;
    m_previous = std::make_unique<Previous>();
    g_signal = 0;
    if (g_released == nullptr) g_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_released != nullptr) ResetEvent(g_released);
    // A program started with Ctrl+C ignored (a detached job) never sees it here: the system
    // calls no handler for it then, and only the build would have ended.
    SetConsoleCtrlHandler(recordEvent, TRUE);
}

InterruptCatch::~InterruptCatch() {
    --g_catches;
    if (!m_outer) return;
    SetConsoleCtrlHandler(recordEvent, FALSE);
    if (g_released != nullptr) SetEvent(g_released);
}

void InterruptCatch::raiseCaught() {
    const int signal = g_signal;
    if (!m_outer || signal == 0) return;
    if (g_deferred) {
        g_pending = signal;
        return;
    }
    raiseAgain(signal);
}

void deferInterruptRaise() {
    g_deferred = true;
}

void raiseDeferredInterrupt() {
    const int signal = g_pending;
    g_pending = 0;
    g_deferred = false;
    if (signal != 0) raiseAgain(signal);
}

int interruptSignal() {
    return g_signal;
}

const char* interruptSignalName() {
    switch (g_signal) {
        case kInterrupt:
            return "SIGINT";
        case kHangup:
            return "SIGHUP";
        default:
            return "";
    }
}

void pausePoint(std::string_view name) {
    static const char* const wanted = std::getenv("QUENVOL_PAUSE_AT");
    if (wanted == nullptr || name != wanted) return;
    // As SIGSTOP does on Linux: the program stands still here until it is resumed or ended.
    SuspendThread(GetCurrentThread());
}

}  // namespace platform
