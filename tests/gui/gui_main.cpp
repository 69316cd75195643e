// The GUI tests' own start: a platform that needs no display, a private runtime folder,
// and a font that really draws, since without one every text is an empty box and no check
// would notice.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "res/resources.h"
#include "ui/qt/dialog_metrics.h"

namespace {

QtMessageHandler g_defaultHandler = nullptr;

// The offscreen platform says so each time a window is raised or the keyboard grabbed;
// that says nothing about the program.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
    g_defaultHandler(type, context, message);
}

// Counts the pixels a sample text darkens on a white image.
int inkedPixels(const QFont& font) {
    QImage image(200, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Korvane Aa"));
    }
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) ++inked;
    return inked;
}

// Two glyphs of the same size that differ: a font that draws every character as the same
// box fails this.
bool glyphsDiffer(const QFont& font) {
    auto render = [&font](QChar c) {
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignCenter, QString(c));
        return image;
    };
    return render(QLatin1Char('o')) != render(QLatin1Char('x'));
}

}  // namespace

int main(int argc, char** argv) {
    // Test discovery runs this binary too, possibly without a display.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char runtimeTemplate[] = "/tmp/quenvol-gui-runtime-XXXXXX";
    const char* runtimeDir = mkdtemp(runtimeTemplate);
    if (!runtimeDir) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_RUNTIME_DIR", runtimeDir, 1);

    g_defaultHandler = qInstallMessageHandler(quietHandler);
    int status = 1;
    {
        QApplication app(argc, argv);
        const QFont font = qtui::dialogFont(*res::findDialogTemplate(res::kIddCrisisDialog));
        const QFontMetrics metrics(font);
        if (!metrics.inFontUcs4('A') || inkedPixels(font) < 50 || !glyphsDiffer(font)) {
            std::fprintf(stderr,
                         "GUI tests: the dialog font (%s) draws no readable glyphs; install a "
                         "font such as fonts-dejavu-core.\n",
                         qPrintable(QFontInfo(font).family()));
        } else {
            ::testing::InitGoogleTest(&argc, argv);
            status = RUN_ALL_TESTS();
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(runtimeDir, ignored);
    return status;
}
