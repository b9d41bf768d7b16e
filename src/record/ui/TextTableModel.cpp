#include "record/ui/TextTableModel.h"

void TextTableModel::SetHeader(const QStringList& header) {
    if (header == header_)
        return;
    if (header.size() != header_.size()) {
        beginResetModel();
        header_ = header;
        endResetModel();
        return;
    }
    header_ = header;
    emit headerDataChanged(Qt::Horizontal, 0, int(header_.size()) - 1);
}

void TextTableModel::SetRows(std::vector<Row> rows) {
    bool sameKeys = rows.size() == rows_.size();
    for (size_t i = 0; sameKeys && i < rows.size(); ++i)
        sameKeys = rows[i].key == rows_[i].key;
    if (!sameKeys) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
        return;
    }
    rows_ = std::move(rows);
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(int(rows_.size()) - 1, columnCount() - 1));
}

int TextTableModel::RowOf(const QString& key) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].key == key)
            return int(i);
    return -1;
}

int TextTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int TextTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(header_.size());
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return {};
    const Row& row = rows_[size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return index.column() < row.cells.size() ? row.cells[index.column()] : QString();
    if (role == Qt::BackgroundRole && index.column() == colouredColumn_ && row.colour.isValid())
        return row.colour;
    if (role == Qt::UserRole) {
        if (index.column() < row.sortKeys.size())
            return row.sortKeys[index.column()];
        return index.column() < row.cells.size() ? row.cells[index.column()] : QString();
    }
    return {};
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < header_.size())
        return header_[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}
