#pragma once

#include <QIcon>
#include <QTreeWidget>

#include <cstdint>
#include <vector>

// The tree view: items with a text, an image from the control's image list and a 32-bit item
// data value.

namespace desktop {

class TreeViewControl : public QTreeWidget {
    Q_OBJECT
public:
    explicit TreeViewControl(QWidget* parent = nullptr);

    // The images items refer to by index, all drawn at size by size pixels.
    void setImageList(std::vector<QIcon> images, int size = 16);

    // Appends an item under parent (the root when null); returns it.
    QTreeWidgetItem* insertItem(const QString& text, int image, std::uint32_t userData,
                                QTreeWidgetItem* parent = nullptr);
    QTreeWidgetItem* firstItem() const { return topLevelItem(0); }
    static std::uint32_t itemData(const QTreeWidgetItem* item);

    // Makes item the current and only selected item.
    void selectItem(QTreeWidgetItem* item);
    void deleteAllItems() { clear(); }

signals:
    // The selected item changed to item (null when nothing is selected).
    void itemSelected(QTreeWidgetItem* item);

private:
    std::vector<QIcon> m_images;
};

} // namespace desktop
