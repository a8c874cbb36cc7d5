#include "desktop/WindowText.h"

#include "desktop/IpAddressEdit.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace desktop {

QString windowText(const QWidget* control) {
    if (const auto* ip = qobject_cast<const IpAddressEdit*>(control)) {
        return ip->addressText();
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(control)) {
        return edit->text();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        return label->text();
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(control)) {
        return group->title();
    }
    return {};
}

void setWindowText(QWidget* control, const QString& text) {
    if (auto* ip = qobject_cast<IpAddressEdit*>(control)) {
        ip->setAddressText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
    }
}

bool isEditControl(const QWidget* control) {
    return qobject_cast<const QLineEdit*>(control) != nullptr;
}

} // namespace desktop
