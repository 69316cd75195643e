#include "ui/qt/dialog_metrics.h"

#include <QFontMetrics>
#include <QStringList>

namespace qtui {
namespace {

// Rounds like the platform's MulDiv, which its dialog-unit mapping uses.
int mulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

}  // namespace

QFont dialogFont(const res::DialogTemplate& dialogTemplate) {
    QFont font;
    font.setFamilies({QString::fromStdString(dialogTemplate.fontName),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(dialogTemplate.fontPointSize > 0 ? dialogTemplate.fontPointSize : 8);
    return font;
}

DialogMetrics::DialogMetrics(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded to whole pixels.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX < 1) m_baseX = 1;
    if (m_baseY < 1) m_baseY = 1;
}

int DialogMetrics::toPixelsX(int units) const {
    return mulDiv(units, m_baseX, 4);
}
int DialogMetrics::toPixelsY(int units) const {
    return mulDiv(units, m_baseY, 8);
}

QRect DialogMetrics::toPixels(int x, int y, int cx, int cy) const {
    return {toPixelsX(x), toPixelsY(y), toPixelsX(cx), toPixelsY(cy)};
}

}  // namespace qtui
