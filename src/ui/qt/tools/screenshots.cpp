// Saves pictures of the main dialog, the About box and the format dialog for review:
//   quenvol-screenshots <folder>
// writes main_dialog.png, about_box.png and format_dialog.png there. Runs offscreen unless a
// platform is named; drive A: is a blank diskette image of its own unless QUENVOL_DRIVE_A
// names one.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "framework/input.h"
#include "framework/shell.h"
#include "ui/qt/dialog_window.h"
#include "ui/qt/icon_image.h"
#include "ui/qt/qt_backend.h"

namespace {

// Runs `action` once a modal dialog of that template is up; gives up after ten seconds.
void whenShown(int templateId, std::function<void(qtui::DialogWindow&)> action) {
    auto* timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, templateId, action] {
        auto* window = qobject_cast<qtui::DialogWindow*>(QApplication::activeModalWidget());
        if (window && window->dialog().TemplateId() == templateId && window->isVisible()) {
            timer->deleteLater();
            timer->stop();
            action(*window);
        } else if (++*waited > 500) {
            std::fprintf(stderr, "quenvol-screenshots: dialog %d did not appear\n", templateId);
            std::exit(1);
        }
    });
    timer->start(20);
}

bool save(QWidget& window, const QString& path) {
    if (window.grab().save(path)) return true;
    std::fprintf(stderr, "quenvol-screenshots: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // No history of the user's own finds its way into the pictures, and no runtime folder
    // of a session is needed.
    QTemporaryDir settings;
    QTemporaryDir runtime;
    setenv("XDG_CONFIG_HOME", qPrintable(settings.path()), 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) setenv("XDG_RUNTIME_DIR", qPrintable(runtime.path()), 1);
    // The format dialog shows what drive A: holds: a 1.44 MB diskette, never a real drive.
    QTemporaryDir driveA;
    if (!std::getenv("QUENVOL_DRIVE_A")) {
        const QString image = driveA.filePath(QStringLiteral("a.img"));
        QFile blank(image);
        if (!blank.open(QIODevice::WriteOnly) || !blank.resize(1474560)) {
            std::fprintf(stderr, "quenvol-screenshots: cannot create %s\n", qPrintable(image));
            return 1;
        }
        setenv("QUENVOL_DRIVE_A", qPrintable(image), 1);
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(qtui::toQIcon(res::applicationIcon()));
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "quenvol-screenshots: cannot create %s\n", qPrintable(folder));
        return 1;
    }
    qtui::QtBackend backend;
    AfxSetBackend(&backend);
    theApp.SetStartupInfo("quenvol", "", "");

    bool saved = true;
    CCrisisDlg dialog;
    theApp.m_pMainWnd = &dialog;
    whenShown(res::kIddCrisisDialog, [&](qtui::DialogWindow& main) {
        saved = save(main, folder + QStringLiteral("/main_dialog.png")) && saved;
        whenShown(res::kIddAboutBox, [&](qtui::DialogWindow& about) {
            saved = save(about, folder + QStringLiteral("/about_box.png")) && saved;
            afx::userKey(about.dialog(), afx::Key::Escape);
        });
        afx::userSysCommand(main.dialog(), IDM_ABOUTBOX);
        // The format dialog over the main dialog, as the format-only kind's Start opens it.
        whenShown(res::kIddFormatDrive, [&](qtui::DialogWindow& format) {
            saved = save(format, folder + QStringLiteral("/format_dialog.png")) && saved;
            afx::userKey(format.dialog(), afx::Key::Escape);
        });
        SHFormatDrive(main.dialog().m_hWnd, 0, SHFMT_ID_DEFAULT, 0);
        afx::userKey(main.dialog(), afx::Key::Escape);
    });
    dialog.DoModal();
    theApp.m_pMainWnd = nullptr;
    AfxSetBackend(nullptr);
    if (saved)
        std::printf(
            "quenvol-screenshots: wrote %s/main_dialog.png, about_box.png and format_dialog.png\n",
            qPrintable(folder));
    return saved ? 0 : 1;
}
