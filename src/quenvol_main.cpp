// The dialog program: Qt windows over the framework, then the framework's start-up.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "res/resources.h"
#include "ui/qt/icon_image.h"
#include "ui/qt/kit_folder.h"
#include "ui/qt/qt_backend.h"

namespace {

// For start-up tests only: with QUENVOL_TEST_PRESS_CLOSE set, Close is pressed as soon as the
// main dialog shows, so that the project path the program started with reaches the saved
// history; the notice that the start directory holds no kit is answered Not Now first.
// Without the variable nothing is scheduled.
void pressCloseWhenShown() {
    QTimer::singleShot(10, [] {
        if (auto* notice = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            notice && notice->objectName() == QStringLiteral("noKit")) {
            notice->reject();
            pressCloseWhenShown();
            return;
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() != QStringLiteral("dlg102") || !window->isVisible()) continue;
            if (auto* close = window->findChild<QPushButton*>(QStringLiteral("ctl1007"))) {
                close->click();
                return;
            }
        }
        pressCloseWhenShown();
    });
}

}  // namespace

int main(int argc, char** argv) {
    // Qt takes the options it knows (-style, -reverse, -session...) out of the arguments it
    // is given, but everything after the program's name is the project path: Qt sees only
    // the name.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    // The framework's loops decide when the program ends, not its last window.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setDesktopFileName(QStringLiteral(QUENVOL_APP_ID));
    QApplication::setWindowIcon(qtui::applicationQIcon());
    if (std::getenv("QUENVOL_TEST_PRESS_CLOSE")) pressCloseWhenShown();
    // theApp is the program's application object; the framework's start-up runs it.
    if (AfxGetApp() != &theApp) return 1;
    // The window may change the main dialog's start directory (the kit folder).
    const auto dialog = [] { return dynamic_cast<CCrisisDlg*>(theApp.m_pMainWnd); };
    qtui::setStartDirectory({
        [dialog] { return dialog() ? std::string(dialog()->m_szStartDir) : std::string(); },
        [](const std::string& folder) {
            const auto gaps = CCrisisDlg::MissingKit(folder);
            return std::pair{gaps.minidos, gaps.flashUtility};
        },
        [dialog](const std::string& folder) {
            return dialog() && dialog()->UseStartDir(folder) != FALSE;
        },
        nullptr,
        // The sample kit the package installs, where the kit folder's chooser opens.
        [] {
            const std::string data = AfxInstalledDataFolder();
            return data.empty() ? data : data + "/examples/kit";
        },
        [] { return QDir::homePath().toLocal8Bit().toStdString(); },
    });
    qtui::QtBackend backend;
    AfxSetBackend(&backend);
    const int status = AfxWinMain(argc, argv);
    AfxSetBackend(nullptr);
    return status;
}
