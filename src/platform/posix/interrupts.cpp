#include "platform/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace platform {
namespace {

volatile std::sig_atomic_t g_signal = 0;
int g_catches = 0;
bool g_deferred = false;  // raiseCaught keeps the signal for raiseDeferredInterrupt
int g_pending = 0;

void raiseAgain(int signal);

extern "C" void recordSignal(int signal) {
    g_signal = signal;
}

}  // namespace

struct InterruptCatch::Previous {
    struct sigaction onInt {};
    struct sigaction onTerm {};
    struct sigaction onHup {};
};

InterruptCatch::InterruptCatch() {
    m_outer = g_catches++ == 0;
    if (!m_outer) return;
    m_previous = std::make_unique<Previous>();
    g_signal = 0;
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait at a prompt or on a slow read ends, and the build looks at the flag.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, &m_previous->onInt);
    ::sigaction(SIGTERM, &action, &m_previous->onTerm);
    // A closed terminal or SSH session ends the build as SIGTERM does.
    ::sigaction(SIGHUP, &action, &m_previous->onHup);
}

InterruptCatch::~InterruptCatch() {
    --g_catches;
    if (!m_outer) return;
    ::sigaction(SIGINT, &m_previous->onInt, nullptr);
    ::sigaction(SIGTERM, &m_previous->onTerm, nullptr);
    ::sigaction(SIGHUP, &m_previous->onHup, nullptr);
}

void InterruptCatch::raiseCaught() {
    const int signal = g_signal;
    if (!m_outer || signal == 0) return;
    // A signal the program was started to ignore (nohup, a background job) ends the build
    // only.
    const struct sigaction& before = signal == SIGINT   ? m_previous->onInt
                                     : signal == SIGHUP ? m_previous->onHup
                                                        : m_previous->onTerm;
    if (before.sa_handler == SIG_IGN) return;
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

namespace {

void raiseAgain(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
}

}  // namespace

int interruptSignal() {
    return g_signal;
}

const char* interruptSignalName() {
    switch (g_signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "";
    }
}

void pausePoint(std::string_view name) {
    static const char* const wanted = std::getenv("QUENVOL_PAUSE_AT");
    if (wanted == nullptr || name != wanted) return;
    ::raise(SIGSTOP);
}

}  // namespace platform
