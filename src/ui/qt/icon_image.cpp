#include "ui/qt/icon_image.h"

#include <QPixmap>

namespace qtui {

QImage iconImage(const res::Icon& icon, int size) {
    for (const auto& image : icon.images) {
        if (image.size != size) continue;
        QImage result(size, size, QImage::Format_ARGB32);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const auto i = static_cast<std::size_t>(y * size + x);
                const std::uint32_t rgb = icon.palette[image.pixels[i] & 0x0F];
                result.setPixel(x, y, image.mask[i] ? 0u : (0xFF000000u | rgb));
            }
        return result;
    }
    return {};
}

QIcon toQIcon(const res::Icon& icon) {
    QIcon result;
    for (const auto& image : icon.images)
        result.addPixmap(QPixmap::fromImage(iconImage(icon, image.size)));
    return result;
}

QIcon applicationQIcon() {
    const QString name = QStringLiteral(QUENVOL_APP_ID);
    if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    return toQIcon(res::applicationIcon());
}

}  // namespace qtui
