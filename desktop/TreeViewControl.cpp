#include "desktop/TreeViewControl.h"

namespace desktop {

namespace {
constexpr int kDataRole = Qt::UserRole + 1;
}

TreeViewControl::TreeViewControl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { emit itemSelected(current); });
}

void TreeViewControl::setImageList(std::vector<QIcon> images, int size) {
    m_images = std::move(images);
    setIconSize(QSize(size, size));
}

QTreeWidgetItem* TreeViewControl::insertItem(const QString& text, int image, std::uint32_t userData,
                                             QTreeWidgetItem* parent) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setData(0, kDataRole, QVariant::fromValue<quint32>(userData));
    if (image >= 0 && static_cast<std::size_t>(image) < m_images.size()) {
        item->setIcon(0, m_images[static_cast<std::size_t>(image)]);
    }
    return item;
}

std::uint32_t TreeViewControl::itemData(const QTreeWidgetItem* item) {
    return item ? item->data(0, kDataRole).value<quint32>() : 0;
}

void TreeViewControl::selectItem(QTreeWidgetItem* item) {
    if (item == nullptr) {
        clearSelection();
        setCurrentItem(nullptr);
        return;
    }
    setCurrentItem(item, 0, QItemSelectionModel::ClearAndSelect);
}

} // namespace desktop
