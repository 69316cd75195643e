// The dialog program on Windows: the system's own dialog windows over the framework, then the
// framework's start-up. Linked for the GUI subsystem, so no console opens with it.
#include <string>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "framework/kit_folder.h"
#include "platform/host_system.h"
#include "ui/win32/system_windows.h"
#include "ui/win32/win32_backend.h"

namespace {

// The sample kit installed beside the program, which the kit folder's chooser opens at.
std::string installedSampleKit() {
    const std::string program = platform::programFilePath();
    const auto slash = program.find_last_of("\\/");
    return slash == std::string::npos ? std::string()
                                      : program.substr(0, slash + 1) + "examples\\kit";
}

}  // namespace

int main(int argc, char** argv) {
    // theApp is the program's application object; the framework's start-up runs it.
    if (AfxGetApp() != &theApp) return 1;
    // The window may change the main dialog's start directory (the kit folder).
    const auto dialog = [] { return dynamic_cast<CCrisisDlg*>(theApp.m_pMainWnd); };
    kitfolder::setAccess({
        [dialog] { return dialog() ? std::string(dialog()->m_szStartDir) : std::string(); },
        [](const std::string& folder) {
            const auto gaps = CCrisisDlg::MissingKit(folder);
            return std::pair{gaps.minidos, gaps.flashUtility};
        },
        [dialog](const std::string& folder) {
            return dialog() && dialog()->UseStartDir(folder) != FALSE;
        },
        nullptr,
        installedSampleKit,
        win32ui::documentsFolder,
    });
    win32ui::Win32Backend backend;
    const ScopedBackend installed(&backend);
    // The project path is the command line's tail as typed, which the arguments no longer say.
    const std::string typed = win32ui::commandLineAsTyped();
    return AfxWinMain(argc, argv, typed.c_str());
}
