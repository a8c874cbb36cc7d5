#pragma once

#include <QString>

#include <cstdint>

// The two-way exchange between a dialog's controls and the window's fields. A window lists its
// pairs in doDataExchange; the same list moves the fields into the controls (saveAndValidate
// false) or takes the controls' values into the fields (true). When taking values, the first
// refused text stops the exchange: the user is told why, that control gets the focus, the field
// keeps its old value and so do all the fields after it.

namespace desktop {

class TemplateDialog;

class DataExchange {
public:
    DataExchange(TemplateDialog& dialog, bool saveAndValidate)
        : m_dialog(dialog), m_saveAndValidate(saveAndValidate) {}

    bool saveAndValidate() const { return m_saveAndValidate; }
    bool failed() const { return m_failed; }

    // Text as the control shows it (an IP address box gives its dotted address).
    void text(int id, QString& value);
    // An unsigned decimal number; refused with "Please enter a positive integer."
    void number(int id, std::uint32_t& value);
    // A signed decimal number; refused with "Please enter an integer."
    void number(int id, std::int32_t& value);
    // The value of an IP address box, first octet in the high byte; 0 when blank.
    void ipAddress(int id, std::uint32_t& value);
    // The index of the checked button in the radio group that starts with firstId; -1 for none.
    void radio(int firstId, int& index);
    void check(int id, bool& value);

    // Refuses the value of control id with message (caption the program's name, exclamation
    // icon) and stops the exchange. For checks of the window's own, such as ranges.
    void fail(int id, const QString& message);

private:
    bool active() const { return !m_failed; }

    TemplateDialog& m_dialog;
    bool m_saveAndValidate;
    bool m_failed = false;
};

} // namespace desktop
