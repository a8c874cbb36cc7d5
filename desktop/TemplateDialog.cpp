#include "desktop/TemplateDialog.h"

#include "desktop/ControlFactory.h"
#include "desktop/DataExchange.h"
#include "desktop/WindowText.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace desktop {

TemplateDialog::TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent), m_templateId(dialogTemplate.id) {
    const QFont font(QString::fromUtf8(dialogTemplate.fontFamily), dialogTemplate.pointSize);
    setFont(font);
    m_units = baseUnitsFor(font);
    setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (dialogTemplate.minimizeBox) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if (dialogTemplate.resizable) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    setWindowFlags(flags);
    const QSize size(dluToPixelsX(dialogTemplate.width, m_units),
                     dluToPixelsY(dialogTemplate.height, m_units));
    if (dialogTemplate.resizable) {
        setMinimumSize(size);
        resize(size);
    } else {
        setFixedSize(size);
    }
    createControls(dialogTemplate.controls);
}

void TemplateDialog::createControls(const std::vector<ControlTemplate>& controls) {
    m_templates = controls;
    QButtonGroup* group = nullptr;
    int groupFirstId = kNoId;
    for (const ControlTemplate& control : m_templates) {
        QWidget* widget = createControl(control, this);
        widget->setGeometry(toPixels(control.x, control.y, control.w, control.h));
        if (control.style & Style::Hidden) {
            widget->hide();
        }
        if (control.style & Style::Disabled) {
            widget->setEnabled(false);
        }
        m_controls.push_back(widget);
        if (control.id != kNoId) {
            m_byId.emplace(control.id, widget);
        }

        // Radio buttons are exclusive within their group (from one control marked Group to the
        // next), not across the whole dialog.
        if (control.style & Style::Group) {
            group = nullptr;
        }
        if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
            radio->setAutoExclusive(false);
            if (group == nullptr) {
                group = new QButtonGroup(this);
                groupFirstId = control.id;
                if (groupFirstId != kNoId) {
                    m_radioGroups.emplace(groupFirstId, group);
                }
            }
            group->addButton(radio, control.id);
        }

        connectCommand(widget, control.id);
        if (control.kind == ControlKind::DefPushButton) {
            m_defaultButton = qobject_cast<QAbstractButton*>(widget);
        }
    }
    // Frames are drawn behind the controls they surround and must not take their clicks.
    for (QWidget* widget : m_controls) {
        if (qobject_cast<QGroupBox*>(widget)) {
            widget->lower();
        }
    }
}

void TemplateDialog::connectCommand(QWidget* control, int id) {
    if (auto* button = qobject_cast<QAbstractButton*>(control); button && id != kNoId) {
        connect(button, &QAbstractButton::clicked, this, [this, id] { onCommand(id); });
    }
}

bool TemplateDialog::replaceItem(int id, QWidget* control) {
    QWidget* old = item(id);
    if (old == nullptr || control == nullptr || control == old) {
        return false;
    }
    control->setParent(this);
    control->setGeometry(old->geometry());
    control->setEnabled(old->isEnabled());
    control->setVisible(!old->isHidden());
    control->stackUnder(old);
    QWidget::setTabOrder(old, control);
    for (QWidget*& slot : m_controls) {
        if (slot == old) {
            slot = control;
        }
    }
    m_byId[id] = control;
    if (m_defaultButton == old) {
        m_defaultButton = qobject_cast<QAbstractButton*>(control);
    }
    connectCommand(control, id);
    delete old;
    return true;
}

QRect TemplateDialog::toPixels(int x, int y, int w, int h) const {
    return dluToPixels(QRect(x, y, w, h), m_units);
}

QWidget* TemplateDialog::item(int id) const {
    const auto found = m_byId.find(id);
    return found == m_byId.end() ? nullptr : found->second;
}

const ControlTemplate* TemplateDialog::itemTemplate(int id) const {
    for (const ControlTemplate& control : m_templates) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

int TemplateDialog::itemId(const QWidget* control) const {
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        if (m_controls[i] == control) {
            return m_templates[i].id;
        }
    }
    return kNoId;
}

QButtonGroup* TemplateDialog::radioGroup(int firstId) const {
    const auto found = m_radioGroups.find(firstId);
    return found == m_radioGroups.end() ? nullptr : found->second;
}

QString TemplateDialog::itemText(int id) const {
    return windowText(item(id));
}

void TemplateDialog::setItemText(int id, const QString& text) {
    if (QWidget* control = item(id)) {
        setWindowText(control, text);
    }
}

void TemplateDialog::enableItem(int id, bool enable) {
    if (QWidget* control = item(id)) {
        control->setEnabled(enable);
    }
}

bool TemplateDialog::isItemEnabled(int id) const {
    const QWidget* control = item(id);
    return control != nullptr && control->isEnabled();
}

void TemplateDialog::showItem(int id, bool show) {
    if (QWidget* control = item(id)) {
        control->setVisible(show);
    }
}

bool TemplateDialog::isItemShown(int id) const {
    const QWidget* control = item(id);
    return control != nullptr && !control->isHidden();
}

void TemplateDialog::limitText(int id, int maxChars) {
    if (auto* edit = itemAs<QLineEdit>(id)) {
        edit->setMaxLength(maxChars);
    }
}

bool TemplateDialog::updateData(bool saveAndValidate) {
    DataExchange exchange(*this, saveAndValidate);
    doDataExchange(exchange);
    return !exchange.failed();
}

void TemplateDialog::initialise() {
    if (!m_initialised) {
        m_initialised = true;
        onInitDialog();
    }
}

int TemplateDialog::doModal() {
    m_ended = false;
    setResult(0);
    setWindowModality(Qt::ApplicationModal);
    show();
    if (!m_ended) {
        QEventLoop loop;
        m_modalLoop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_modalLoop = nullptr;
    }
    return result();
}

void TemplateDialog::centerOnScreen() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TemplateDialog::done(int result) {
    QDialog::done(result);
    m_ended = true;
    if (m_modalLoop != nullptr) {
        m_modalLoop->quit();
    }
}

void TemplateDialog::reject() {
    done(IDCANCEL);
}

void TemplateDialog::setVisible(bool visible) {
    if (visible && !m_initialised) {
        // A window that ends itself while starting up is never shown.
        m_ended = false;
        initialise();
        if (m_ended) {
            return;
        }
    }
    QDialog::setVisible(visible);
}

void TemplateDialog::onInitDialog() {
    updateData(false);
}

void TemplateDialog::doDataExchange(DataExchange&) {}

void TemplateDialog::onCommand(int id) {
    if (id == IDOK) {
        onOK();
    } else if (id == IDCANCEL) {
        onCancel();
    }
}

void TemplateDialog::onOK() {
    if (updateData(true)) {
        endDialog(IDOK);
    }
}

void TemplateDialog::onCancel() {
    endDialog(IDCANCEL);
}

void TemplateDialog::onClose() {
    onCommand(IDCANCEL);
}

void TemplateDialog::pressEnter() {
    // As the dialog manager does: a focused push button is pressed; otherwise the default button,
    // or, without one, the IDOK command; a disabled or hidden target does nothing.
    if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled()) {
        focused->click();
        return;
    }
    if (m_defaultButton != nullptr) {
        if (m_defaultButton->isEnabled() && !m_defaultButton->isHidden()) {
            m_defaultButton->click();
        }
        return;
    }
    if (const QWidget* ok = item(IDOK); ok && (!ok->isEnabled() || ok->isHidden())) {
        return;
    }
    onCommand(IDOK);
}

void TemplateDialog::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        pressEnter();
        return;
    }
    if (modifiers == Qt::NoModifier && event->key() == Qt::Key_Escape) {
        event->accept();
        if (const QWidget* cancel = item(IDCANCEL); cancel && !cancel->isEnabled()) {
            return;
        }
        onCommand(IDCANCEL);
        return;
    }
    QDialog::keyPressEvent(event);
}

void TemplateDialog::closeEvent(QCloseEvent* event) {
    // What closing means is the window's decision (a main window may hide itself in the tray);
    // the dialog ends only through endDialog.
    event->ignore();
    onClose();
}

} // namespace desktop
