// SIGINT, SIGTERM and SIGHUP during a build: caught for the build's span, so that the build ends at
// its next safe point (its staged copies removed, the user's files put back, drive A:
// released), and then raised again with the default action, so that the program's exit
// status is the signal's. The handler only records the signal.
#pragma once

#include <memory>
#include <string_view>

namespace platform {

class InterruptCatch {
  public:
    InterruptCatch();
    ~InterruptCatch();
    InterruptCatch(const InterruptCatch&) = delete;
    InterruptCatch& operator=(const InterruptCatch&) = delete;

    // Ends the process by the signal caught, if one was; call once what the build held is
    // released.
    void raiseCaught();

  private:
    struct Previous;  // the handlers before the catch, as the system keeps them
    std::unique_ptr<Previous> m_previous;  // the outer catch only
    bool m_outer = false;  // builds do not nest, but a second catch must not undo the first
};

// A program that reports after the build (quenvol-cli's --json) has raiseCaught keep the
// signal, and raises it itself once the report is out.
void deferInterruptRaise();
void raiseDeferredInterrupt();

// The signal that asked the build to end, 0 while none has.
int interruptSignal();
// "SIGINT", "SIGTERM" or "SIGHUP" for the signal caught; empty while none has been.
const char* interruptSignalName();
inline bool interrupted() {
    return interruptSignal() != 0;
}

// Tests stop the program at a named point of a build through QUENVOL_PAUSE_AT (it stops
// itself with SIGSTOP there); unset, this does nothing.
void pausePoint(std::string_view name);

}  // namespace platform
