#include "discovery/PelloryIcons.h"

#include "desktop/DrawnIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace pellory {

namespace {

// The desktop icon's shapes on the 64 by 64 grid.
void drawProgramIcon(QPainter& painter) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2f, 0x4f, 0x7f));
    painter.drawRoundedRect(QRectF(4, 30, 40, 24), 3, 3);
    painter.setBrush(QColor(0x7f, 0xff, 0x7f));
    painter.drawEllipse(QPointF(38, 42), 2.5, 2.5);

    const QColor signal(0xc6, 0x28, 0x28);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(signal, 3));
    // Quarter circles round the point (44, 34), from straight up to straight right.
    painter.drawArc(QRectF(32, 22, 24, 24), 0, 90 * 16);
    painter.drawArc(QRectF(24, 14, 40, 40), 0, 90 * 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(signal);
    painter.drawEllipse(QPointF(44, 34), 3, 3);
}

QPixmap drawOrganisationIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x20, 0x30, 0x50));
    painter.setBrush(QColor(0x5a, 0x7a, 0xb0));
    painter.drawRect(2, 4, 11, 11);
    painter.setBrush(QColor(0xc0, 0x50, 0x30));
    QPainterPath roof;
    roof.moveTo(1, 4);
    roof.lineTo(7.5, 0);
    roof.lineTo(14, 4);
    roof.closeSubpath();
    painter.drawPath(roof);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xf0, 0xe0, 0x80));
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            painter.drawRect(4 + 3 * column, 6 + 3 * row, 2, 2);
        }
    }
    painter.setBrush(QColor(0x30, 0x20, 0x10));
    painter.drawRect(6, 12, 3, 3);
    return pixmap;
}

} // namespace

QIcon programIcon() {
    return DrawnIcon({16, 24, 32, 48, 64, 128}, drawProgramIcon);
}

QIcon organisationIcon() {
    return QIcon(drawOrganisationIcon());
}

} // namespace pellory
