// The dialog program: Qt windows over the framework, then the framework's start-up.
#include <QApplication>

#include "app/CrisisApp.h"
#include "res/resources.h"
#include "ui/qt/icon_image.h"
#include "ui/qt/qt_backend.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The framework's loops decide when the program ends, not its last window.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(qtui::toQIcon(res::applicationIcon()));
    // theApp is the program's application object; the framework's start-up runs it.
    if (AfxGetApp() != &theApp) return 1;
    qtui::QtBackend backend;
    AfxSetBackend(&backend);
    const int status = AfxWinMain(argc, argv);
    AfxSetBackend(nullptr);
    return status;
}
