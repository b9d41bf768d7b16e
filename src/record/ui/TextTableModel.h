#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QStringList>
#include <QVariant>
#include <vector>

// Rows of texts for a table view, with a background colour per row for one column. Replacing
// the rows keeps the view's selection and scroll position when the rows keep their keys. A
// row may give each column a value to sort by (Qt::UserRole; its text when it gives none).
class TextTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    struct Row {
        QString key;  // identifies the row across updates (the phone)
        QStringList cells;
        QColor colour;          // of the coloured column; invalid: none
        QVariantList sortKeys;  // by column; empty: the cells
    };

    explicit TextTableModel(int colouredColumn = -1, QObject* parent = nullptr)
        : QAbstractTableModel(parent), colouredColumn_(colouredColumn) {}

    void SetHeader(const QStringList& header);
    void SetRows(std::vector<Row> rows);
    const std::vector<Row>& Rows() const { return rows_; }
    // The row of a key, -1 when there is none.
    int RowOf(const QString& key) const;
    int ColouredColumn() const { return colouredColumn_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    int colouredColumn_;
    QStringList header_;
    std::vector<Row> rows_;
};
