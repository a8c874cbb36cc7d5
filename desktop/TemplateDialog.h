#pragma once

#include "desktop/DialogTemplate.h"
#include "desktop/DialogUnits.h"

#include <QDialog>

#include <map>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QEventLoop;

// A dialog built from a template table, in the manner of the Windows class library's dialogs:
// controls are created at their places in dialog units and found by id; a button press becomes a
// command (onCommand), the control with id IDOK is the OK command and Esc the cancel command;
// values move between controls and the window's fields through doDataExchange; the window's own
// start-up goes in onInitDialog, which runs once, just before the dialog is first shown.

namespace desktop {

class DataExchange;

class TemplateDialog : public QDialog {
    Q_OBJECT
public:
    explicit TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);

    int templateId() const { return m_templateId; }
    const DialogBaseUnits& baseUnits() const { return m_units; }
    // A rectangle in dialog units (x, y, width, height) in this dialog's pixels.
    QRect toPixels(int x, int y, int w, int h) const;

    // The control with this id (the first one if several share it), or null.
    QWidget* item(int id) const;
    template <class Widget> Widget* itemAs(int id) const { return qobject_cast<Widget*>(item(id)); }
    // The control's template entry, or null.
    const ControlTemplate* itemTemplate(int id) const;
    // The id of a control of this dialog, or kNoId.
    int itemId(const QWidget* control) const;
    // Every control in template order (the window order), those without an id included.
    const std::vector<QWidget*>& controls() const { return m_controls; }
    // Puts a control of the window's own class (a tree with helpers of its own, say) in place of
    // control id: same place, size, visibility, enabled state, stacking and tab position. The old
    // control is deleted; a button still gives its commands. Returns false if there is no such id.
    bool replaceItem(int id, QWidget* control);
    // The exclusive group of radio buttons that starts with the button firstId, or null.
    QButtonGroup* radioGroup(int firstId) const;

    QString itemText(int id) const;
    void setItemText(int id, const QString& text);
    void enableItem(int id, bool enable = true);
    bool isItemEnabled(int id) const;
    // Shown means not hidden by the program; it says nothing about whether the dialog is visible.
    void showItem(int id, bool show = true);
    bool isItemShown(int id) const;
    // Limits the text of an edit box to this many characters.
    void limitText(int id, int maxChars);

    // Moves values from the controls into the fields (true) or back (false). Taking the values
    // stops at the first control whose text is refused; then the user has been told why and
    // false is returned.
    bool updateData(bool saveAndValidate = true);

    // Runs onInitDialog if it has not run yet; showing the dialog does this too.
    void initialise();
    // Shows the dialog and waits until it ends; returns the result given to endDialog (IDOK,
    // IDCANCEL, ...) or 0 when the application quit first. Unlike QDialog::exec it keeps running
    // while the dialog is hidden, so a main window can hide itself in the tray.
    int doModal();
    // Ends the dialog with a result.
    void endDialog(int result) { done(result); }
    // Centres the dialog on its screen.
    void centerOnScreen();

    void done(int result) override;
    void reject() override;
    void setVisible(bool visible) override;

protected:
    // Start-up of the window; the base moves the fields into the controls.
    virtual void onInitDialog();
    // The pairs of controls and fields, in exchange order.
    virtual void doDataExchange(DataExchange& exchange);
    // A button was pressed (or Enter or Esc chose a command). The base sends IDOK to onOK and
    // IDCANCEL to onCancel and ignores the rest.
    virtual void onCommand(int id);
    // The base takes the values and, when they are accepted, ends the dialog with IDOK.
    virtual void onOK();
    // The base ends the dialog with IDCANCEL.
    virtual void onCancel();
    // The close box or Alt+F4. The base issues the cancel command.
    virtual void onClose();

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls(const std::vector<ControlTemplate>& controls);
    void connectCommand(QWidget* control, int id);
    void pressEnter();

    int m_templateId = 0;
    DialogBaseUnits m_units;
    std::vector<ControlTemplate> m_templates;
    std::vector<QWidget*> m_controls;
    std::map<int, QWidget*> m_byId;
    std::map<int, QButtonGroup*> m_radioGroups;
    QAbstractButton* m_defaultButton = nullptr;
    bool m_initialised = false;
    bool m_ended = false;
    QEventLoop* m_modalLoop = nullptr;
};

} // namespace desktop
