#include "desktop/ControlFactory.h"

#include "desktop/IpAddressEdit.h"
#include "desktop/ListViewControl.h"
#include "desktop/TreeViewControl.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

namespace desktop {

namespace {

QWidget* createEdit(const ControlTemplate& control, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setText(QString::fromUtf8(control.text));
    if (control.style & Style::Password) {
        edit->setEchoMode(QLineEdit::Password);
    }
    if (control.style & Style::Number) {
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    edit->setReadOnly(control.style & Style::ReadOnly);
    return edit;
}

QWidget* createLabel(const ControlTemplate& control, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(control.text), parent);
    // Texts are shown as written, never read as markup.
    label->setTextFormat(Qt::PlainText);
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (control.style & Style::Center) {
        horizontal = Qt::AlignHCenter;
    } else if (control.style & Style::Right) {
        horizontal = Qt::AlignRight;
    }
    label->setAlignment(horizontal | Qt::AlignTop);
    if (control.style & Style::Sunken) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    return label;
}

QWidget* createButton(const ControlTemplate& control, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(control.text), parent);
    // Enter is handled by the dialog as the dialog manager does; Qt's own default-button
    // guessing would otherwise pick the first button.
    button->setAutoDefault(false);
    button->setDefault(control.kind == ControlKind::DefPushButton);
    return button;
}

} // namespace

QWidget* createControl(const ControlTemplate& control, QWidget* parent) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
        return createButton(control, parent);
    case ControlKind::Edit:
        return createEdit(control, parent);
    case ControlKind::Static:
        return createLabel(control, parent);
    case ControlKind::Icon: {
        auto* label = new QLabel(parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::GroupBox:
        return new QGroupBox(text, parent);
    case ControlKind::IpAddress: {
        auto* ip = new IpAddressEdit(parent);
        ip->setAddressText(text);
        return ip;
    }
    case ControlKind::Progress: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::ListView:
        return new ListViewControl(parent);
    case ControlKind::TreeView:
        return new TreeViewControl(parent);
    case ControlKind::RadioButton:
        return new QRadioButton(text, parent);
    case ControlKind::CheckBox:
        return new QCheckBox(text, parent);
    }
    return new QWidget(parent);
}

} // namespace desktop
