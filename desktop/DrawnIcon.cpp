#include "desktop/DrawnIcon.h"

#include <QPixmap>

QIcon DrawnIcon(std::initializer_list<int> sizes, const std::function<void(QPainter&)>& draw) {
    QIcon icon;
    for (int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(size / 64.0, size / 64.0);
            draw(painter);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}
