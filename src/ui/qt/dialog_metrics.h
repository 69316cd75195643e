// Dialog units turned into pixels from the dialog font, as the template's coordinates mean.
#pragma once

#include <QFont>
#include <QRect>

#include "res/resources.h"

namespace qtui {

// The font a template names. Where its family is not installed a sans-serif face of the
// same point size stands in.
QFont dialogFont(const res::DialogTemplate& dialogTemplate);

// One horizontal dialog unit is a quarter of the font's average character width, one
// vertical unit an eighth of its height.
class DialogMetrics {
  public:
    explicit DialogMetrics(const QFont& font);
    DialogMetrics(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int baseX() const { return m_baseX; }
    int baseY() const { return m_baseY; }
    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QRect toPixels(int x, int y, int cx, int cy) const;

  private:
    int m_baseX;
    int m_baseY;
};

}  // namespace qtui
