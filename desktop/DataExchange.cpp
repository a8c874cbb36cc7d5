#include "desktop/DataExchange.h"

#include "desktop/IpAddressEdit.h"
#include "desktop/MessageBox.h"
#include "desktop/NumberText.h"
#include "desktop/TemplateDialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>

namespace desktop {

void DataExchange::text(int id, QString& value) {
    if (!active()) {
        return;
    }
    if (m_saveAndValidate) {
        value = m_dialog.itemText(id);
    } else {
        m_dialog.setItemText(id, value);
    }
}

void DataExchange::number(int id, std::uint32_t& value) {
    if (!active()) {
        return;
    }
    if (!m_saveAndValidate) {
        m_dialog.setItemText(id, QString::number(value));
        return;
    }
    const auto parsed = parseUnsigned32(m_dialog.itemText(id));
    if (!parsed) {
        fail(id, QStringLiteral("Please enter a positive integer."));
        return;
    }
    value = *parsed;
}

void DataExchange::number(int id, std::int32_t& value) {
    if (!active()) {
        return;
    }
    if (!m_saveAndValidate) {
        m_dialog.setItemText(id, QString::number(value));
        return;
    }
    const auto parsed = parseSigned32(m_dialog.itemText(id));
    if (!parsed) {
        fail(id, QStringLiteral("Please enter an integer."));
        return;
    }
    value = *parsed;
}

void DataExchange::ipAddress(int id, std::uint32_t& value) {
    auto* box = m_dialog.itemAs<IpAddressEdit>(id);
    if (!active() || box == nullptr) {
        return;
    }
    if (m_saveAndValidate) {
        value = box->address();
    } else {
        box->setAddress(value);
    }
}

void DataExchange::radio(int firstId, int& index) {
    QButtonGroup* group = m_dialog.radioGroup(firstId);
    if (!active() || group == nullptr) {
        return;
    }
    const QList<QAbstractButton*> buttons = group->buttons();
    if (m_saveAndValidate) {
        index = static_cast<int>(buttons.indexOf(group->checkedButton()));
        return;
    }
    // An exclusive group cannot uncheck its last checked button, so it is opened for the change.
    group->setExclusive(false);
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        buttons[i]->setChecked(i == index);
    }
    group->setExclusive(true);
}

void DataExchange::check(int id, bool& value) {
    auto* button = m_dialog.itemAs<QAbstractButton>(id);
    if (!active() || button == nullptr) {
        return;
    }
    if (m_saveAndValidate) {
        value = button->isChecked();
    } else {
        button->setChecked(value);
    }
}

void DataExchange::fail(int id, const QString& message) {
    if (!active()) {
        return;
    }
    m_failed = true;
    appMessageBox(&m_dialog, message);
    if (QWidget* control = m_dialog.item(id)) {
        control->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            edit->selectAll();
        }
    }
}

} // namespace desktop
