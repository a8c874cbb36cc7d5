#pragma once

#include <QString>

class QWidget;

// The text of a control as the window system would report it, whatever Qt widget stands in for
// the control: an edit's contents, a button's or label's text, a group box's title, an IP address
// box's dotted address.

namespace desktop {

QString windowText(const QWidget* control);

// Sets a control's text; an IP address box takes a dotted address (anything else blanks it).
// Controls without a text (progress bars, lists, trees) are left alone.
void setWindowText(QWidget* control, const QString& text);

// True for edit boxes (IpAddressEdit included), whose text is the user's data, not a caption.
bool isEditControl(const QWidget* control);

} // namespace desktop
