#include "upgrade/ProgramIcon.h"

#include "desktop/DrawnIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// The recorder with its download arrow, on the 64 by 64 grid.
void DrawIcon(QPainter& painter) {
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
}

} // namespace

QIcon ProgramIcon() {
    return DrawnIcon({16, 22, 24, 32, 48, 64, 128}, DrawIcon);
}
