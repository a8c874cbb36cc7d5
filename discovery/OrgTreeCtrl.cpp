#include "discovery/OrgTreeCtrl.h"

#include "desktop/TreeViewControl.h"

OrgTreeCtrl::OrgTreeCtrl(desktop::TreeViewControl* tree) : QObject(tree), m_tree(tree) {
    tree->setAnimated(false);
    connect(tree, &QTreeWidget::itemExpanded, this, &OrgTreeCtrl::onExpanded);
}

void OrgTreeCtrl::onExpanded() {
    m_tree->viewport()->update();
    m_tree->update();
}
