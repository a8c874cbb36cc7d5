#pragma once

#include <QTableWidget>

#include <vector>

// The report-style list view: columns with headings and pixel widths, rows of texts that the user
// selects but never edits, and a selection mark (the row the user or the program last made
// current, -1 when there is none).

namespace desktop {

class ListViewControl : public QTableWidget {
    Q_OBJECT
public:
    explicit ListViewControl(QWidget* parent = nullptr);

    // Appends a left-aligned column; returns its index.
    int addColumn(const QString& heading, int widthPixels);

    // Inserts a row at row (clamped to the row count) with text in column 0; returns its index.
    int insertItem(int row, const QString& text);
    void setItemText(int row, int column, const QString& text);
    QString itemText(int row, int column) const;
    int itemCount() const { return rowCount(); }
    void deleteAllItems();

    // Makes row the only selected row and the selection mark; -1 clears both.
    void selectItem(int row);
    int selectionMark() const;
    void setSelectionMark(int row);
    // Selected rows in list order.
    std::vector<int> selectedRows() const;

    void setGridLines(bool on) { setShowGrid(on); }
    void setFullRowSelect(bool on);
    void setSingleSelection(bool on);

signals:
    // A double click on a row (any column).
    void rowDoubleClicked(int row);
};

} // namespace desktop
