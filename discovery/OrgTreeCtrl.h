#pragma once

#include <QObject>

namespace desktop {
class TreeViewControl;
}

// The organisation tree's own behaviour, attached to the dialog's tree control the way a control
// class takes over a dialog item: items expand without animation, and once an item has expanded
// the whole tree is redrawn, so that no half-drawn branch is ever left on screen.
//
// Qt draws a widget only from the event loop, never in the middle of the expansion itself, so
// nothing needs switching off while an item expands.
class OrgTreeCtrl : public QObject {
    Q_OBJECT
public:
    // Attaches to tree for its lifetime; the tree owns this object.
    explicit OrgTreeCtrl(desktop::TreeViewControl* tree);

    desktop::TreeViewControl* tree() const { return m_tree; }

private:
    void onExpanded();

    desktop::TreeViewControl* m_tree; // owns this object
};
