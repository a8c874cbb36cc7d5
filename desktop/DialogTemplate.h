#pragma once

#include "desktop/WinTypes.h"

#include <vector>

// A dialog described the way a resource script describes it: a caption, a client size and a list
// of controls, each with its id, kind, text, and position and size in dialog units. Keep each
// dialog's table next to its class, like a resource file.

namespace desktop {

enum class ControlKind {
    PushButton,
    DefPushButton, // the dialog's default button: Enter presses it
    Edit,
    Static,    // a label
    Icon,      // a picture label; the window gives it its pixmap
    GroupBox,  // a frame drawn behind the controls it surrounds
    IpAddress, // an IpAddressEdit
    Progress,  // a progress bar, range 0 to 100
    ListView,  // a ListViewControl (report view)
    TreeView,  // a TreeViewControl
    RadioButton,
    CheckBox,
};

// Style bits of a control; combine with |.
namespace Style {
inline constexpr unsigned None = 0;
inline constexpr unsigned Hidden = 1u << 0;   // created hidden
inline constexpr unsigned Disabled = 1u << 1; // created disabled
inline constexpr unsigned Group = 1u << 2;    // starts a new group: radio buttons after it are exclusive
                                              // among themselves up to the next control with Group
inline constexpr unsigned Password = 1u << 3; // edit: characters hidden
inline constexpr unsigned Number = 1u << 4;   // edit: only digits can be typed
inline constexpr unsigned ReadOnly = 1u << 5; // edit: read-only
inline constexpr unsigned Center = 1u << 6;   // static: centred text
inline constexpr unsigned Right = 1u << 7;    // static: right-aligned text
inline constexpr unsigned Sunken = 1u << 8;   // static: sunken frame
} // namespace Style

struct ControlTemplate {
    int id = kNoId;
    ControlKind kind = ControlKind::Static;
    const char* text = ""; // UTF-8
    int x = 0;             // position and size in dialog units
    int y = 0;
    int w = 0;
    int h = 0;
    unsigned style = Style::None;
};

struct DialogTemplate {
    int id = 0;
    const char* caption = ""; // UTF-8
    int width = 0;            // client area in dialog units
    int height = 0;
    std::vector<ControlTemplate> controls;
    bool minimizeBox = false; // main windows have one
    // The window can be resized and maximised; the template's size is then its smallest. Otherwise
    // it keeps the template's size.
    bool resizable = false;
    // Asked for as the resource scripts ask; Qt falls back to a font that exists (DejaVu Sans on
    // Debian), and the dialog units follow the font actually used.
    const char* fontFamily = "MS Sans Serif";
    int pointSize = 8;
};

} // namespace desktop
