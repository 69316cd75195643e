// The dialog program on Windows: the system's own dialog windows over the framework, then the
// framework's start-up. Linked for the GUI subsystem, so no console opens with it.
#include "app/CrisisApp.h"
#include "ui/win32/win32_backend.h"

int main(int argc, char** argv) {
    // theApp is the program's application object; the framework's start-up runs it.
    if (AfxGetApp() != &theApp) return 1;
    win32ui::Win32Backend backend;
    const ScopedBackend installed(&backend);
    return AfxWinMain(argc, argv);
}
