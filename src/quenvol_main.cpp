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
    qtui::QtBackend backend;
    AfxSetBackend(&backend);
    // The application object is the framework's; naming it here keeps it in the program.
    static_cast<void>(theApp);
    const int status = AfxWinMain(argc, argv);
    AfxSetBackend(nullptr);
    return status;
}
