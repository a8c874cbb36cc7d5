#include "upgrade/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Draws the recorder with its download arrow on a 64 by 64 grid, scaled to `size` pixels.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);

    painter.setBrush(QColor(0x2f, 0x4f, 0x7f));
    painter.drawRoundedRect(QRectF(4, 14, 56, 36), 4, 4);
    painter.setBrush(QColor(0x9f, 0xd3, 0xff));
    painter.drawRect(QRectF(10, 20, 30, 4));
    painter.setBrush(QColor(0x7f, 0xff, 0x7f));
    painter.drawEllipse(QPointF(50, 22), 3, 3);

    QPainterPath arrow;
    arrow.moveTo(32, 56);
    arrow.lineTo(20, 42);
    arrow.lineTo(28, 42);
    arrow.lineTo(28, 30);
    arrow.lineTo(36, 30);
    arrow.lineTo(36, 42);
    arrow.lineTo(44, 42);
    arrow.closeSubpath();
    painter.setBrush(QColor(0xff, 0xcc, 0x33));
    painter.setPen(QPen(QColor(0x33, 0x33, 0x33), 1.5));
    painter.drawPath(arrow);
    return pixmap;
}

} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) {
        icon.addPixmap(DrawIcon(size));
    }
    return icon;
}
