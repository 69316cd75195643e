#include "platform/interrupts.h"

#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

volatile std::sig_atomic_t g_signal = 0;
int g_catches = 0;

extern "C" void recordSignal(int signal) {
    g_signal = signal;
}

}  // namespace

InterruptCatch::InterruptCatch() {
    m_outer = g_catches++ == 0;
    if (!m_outer) return;
    g_signal = 0;
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait at a prompt or on a slow read ends, and the build looks at the flag.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, &m_previousInt);
    ::sigaction(SIGTERM, &action, &m_previousTerm);
}

InterruptCatch::~InterruptCatch() {
    --g_catches;
    if (!m_outer) return;
    ::sigaction(SIGINT, &m_previousInt, nullptr);
    ::sigaction(SIGTERM, &m_previousTerm, nullptr);
}

void InterruptCatch::raiseCaught() {
    const int signal = g_signal;
    if (!m_outer || signal == 0) return;
    // A signal the program was started to ignore (nohup, a background job) ends the build
    // only.
    const struct sigaction& before = signal == SIGINT ? m_previousInt : m_previousTerm;
    if (before.sa_handler == SIG_IGN) return;
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

int interruptSignal() {
    return g_signal;
}

void pausePoint(std::string_view name) {
    static const char* const wanted = std::getenv("QUENVOL_PAUSE_AT");
    if (wanted == nullptr || name != wanted) return;
    ::raise(SIGSTOP);
}

}  // namespace platform
