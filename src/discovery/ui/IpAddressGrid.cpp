#include "discovery/ui/IpAddressGrid.h"

#include "app/Numbers.h"

#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

namespace {

const char* const kHeaders[IpAddressGrid::kColumns] = {
    "", "Online[+]", "Vendor[+]", "Model[+]", "IP Address", "MAC", "Version[+]"};
const int kWidths[IpAddressGrid::kColumns] = {120, 134, 120, 120, 120, 120, 120};
const int kFilterColumns[] = {IpAddressGrid::kOnlineColumn, IpAddressGrid::kVendorColumn,
                              IpAddressGrid::kModelColumn, IpAddressGrid::kVersionColumn};

const QColor kSelectedNumber(0, 128, 0);
const QColor kSelectedRow(166, 202, 240);
const QColor kOnText(0, 128, 0);
const QColor kOffText(255, 0, 0);

void PaintCell(QPainter* painter, const QRect& rect, const QColor& background,
               const QColor& textColour, const QString& text) {
    painter->save();
    painter->setClipRect(rect);
    painter->fillRect(rect, background);
    painter->setPen(textColour);
    painter->drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter->restore();
}

// A drop-down box that refreshes its items when its list is about to open.
class FilterComboBox : public QComboBox {
  public:
    FilterComboBox(QWidget* parent, std::function<void()> beforePopup)
        : QComboBox(parent), beforePopup_(std::move(beforePopup)) {}
    void showPopup() override {
        beforePopup_();
        QComboBox::showPopup();
    }

  private:
    std::function<void()> beforePopup_;
};

}  // namespace

// The cells of the table, painted by the program once the page was first shown.
class GridCellPainter : public QStyledItemDelegate {
  public:
    GridCellPainter(IpAddressGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!grid_->PaintsCells()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const int row = index.row() + 1;
        const int column = index.column();
        const QPalette& palette = grid_->palette();
        QString text = index.data().toString();
        QColor background;
        QColor colour = Qt::black;
        if (column == 0) {
            const bool marked = grid_->InRowSelection(row);
            background = marked ? kSelectedNumber : palette.color(QPalette::Button);
            colour = marked ? Qt::white : Qt::black;
        } else if (option.state & QStyle::State_Selected) {
            background = palette.color(QPalette::Highlight);
            colour = Qt::white;
        } else if (grid_->InRowSelection(row)) {
            background = kSelectedRow;
        } else {
            background = palette.color(QPalette::Base);
        }
        if (column == IpAddressGrid::kOnlineColumn) {
            const int value = ReadLeadingInt(text);
            text = value == 1 ? "ON" : value == 0 ? "OFF" : QString();
            colour = value == 1 ? kOnText : kOffText;
        }
        PaintCell(painter, option.rect, background, colour, text);
    }

  private:
    IpAddressGrid* grid_;
};

// The header row: painted like the fixed cells; presses on it belong to row 0.
class GridHeader : public QHeaderView {
  public:
    GridHeader(IpAddressGrid* grid, QWidget* parent)
        : QHeaderView(Qt::Horizontal, parent), grid_(grid) {}

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        grid_->HeaderPainted();
        if (!grid_->PaintsCells()) {
            QHeaderView::paintSection(painter, rect, logicalIndex);
            return;
        }
        PaintCell(painter, rect, grid_->palette().color(QPalette::Button), Qt::black,
                  grid_->Cell(0, logicalIndex));
        painter->save();
        painter->setPen(grid_->palette().color(QPalette::Mid));
        painter->drawLine(rect.topRight(), rect.bottomRight());
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        painter->restore();
    }
    void mousePressEvent(QMouseEvent* event) override { grid_->MousePressed(event); }
    void mouseReleaseEvent(QMouseEvent* event) override { grid_->MouseReleased(event); }

  private:
    IpAddressGrid* grid_;
};

// The table itself: its mouse presses and releases reach the grid's handlers, a right click
// opens the popup menu.
class GridTable : public QTableWidget {
  public:
    explicit GridTable(IpAddressGrid* grid) : QTableWidget(grid), grid_(grid) {}

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        grid_->MousePressed(event);
        QTableWidget::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QTableWidget::mouseReleaseEvent(event);
        grid_->MouseReleased(event);
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        grid_->IpAddrGridPopupMenu()->popup(event->globalPos());
    }

  private:
    IpAddressGrid* grid_;
};

IpAddressGrid::IpAddressGrid(QWidget* parent) : QWidget(parent) {
    setObjectName("IpAddressGrid");
    QFont gridFont("Arial");
    gridFont.setPixelSize(16);
    setFont(gridFont);
    resize(849, 553);

    table_ = new GridTable(this);
    table_->setObjectName("IpAddressGridTable");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);

    auto* header = new GridHeader(this, table_);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignTop);
    header->setMinimumSectionSize(10);
    table_->setHorizontalHeader(header);
    table_->verticalHeader()->hide();
    table_->setColumnCount(kColumns);
    for (int c = 0; c < kColumns; ++c) {
        table_->setHorizontalHeaderItem(c, new QTableWidgetItem(QString::fromLatin1(kHeaders[c])));
        table_->setColumnWidth(c, kWidths[c]);
    }
    table_->setShowGrid(true);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setItemDelegate(new GridCellPainter(this));
    connect(header, &QHeaderView::sectionResized, this, [this] { PlaceFilterBoxes(); });
    connect(table_->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { PlaceFilterBoxes(); });

    // Before the first discovery: the header and row 1 with "1" in column 0.
    rowDevice_ = {0};
    SetRowCount(2);
    SetCell(1, 0, "1");

    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName("IpAddrGridPopupMenu");
    const struct {
        const char* name;
        const char* caption;
        void (IpAddressGrid::*signal)();
    } items[] = {{"ProvisionPopupBtn", "Provision", &IpAddressGrid::ProvisionPopupBtnClick},
                 {"UpgradePopupBtn", "Upgrade", &IpAddressGrid::UpgradePopupBtnClick},
                 {"RefreshPopupBtn", "Refresh", &IpAddressGrid::RefreshPopupBtnClick}};
    for (const auto& item : items) {
        QAction* action = popupMenu_->addAction(item.caption);
        action->setObjectName(item.name);
        action->setParent(popupMenu_);
        connect(action, &QAction::triggered, this, item.signal);
    }
}

int IpAddressGrid::RowCount() const {
    return table_->rowCount() + 1;
}

void IpAddressGrid::SetRowCount(int rows) {
    rows = std::max(rows, 1);
    table_->setRowCount(rows - 1);
    rowDevice_.resize(static_cast<size_t>(rows), 0);
}

QString IpAddressGrid::Cell(int row, int column) const {
    if (column < 0 || column >= kColumns)
        return {};
    const QTableWidgetItem* item =
        row == 0 ? table_->horizontalHeaderItem(column) : table_->item(row - 1, column);
    return item ? item->text() : QString();
}

void IpAddressGrid::SetCell(int row, int column, const QString& text) {
    if (column < 0 || column >= kColumns || row < 0 || row >= RowCount())
        return;
    if (row == 0) {
        table_->horizontalHeaderItem(column)->setText(text);
        return;
    }
    if (QTableWidgetItem* item = table_->item(row - 1, column))
        item->setText(text);
    else
        table_->setItem(row - 1, column, new QTableWidgetItem(text));
}

int IpAddressGrid::DeviceAt(int row) const {
    return row > 0 && row < static_cast<int>(rowDevice_.size()) ? rowDevice_[row] : 0;
}

void IpAddressGrid::ResetRows() {
    SetRowCount(2);
    rowDevice_.assign(2, 0);
    SetCell(1, kOnlineColumn, "-1");
    for (int c = kVendorColumn; c < kColumns; ++c)
        SetCell(1, c, QString());
}

void IpAddressGrid::WriteDeviceRow(int row, int number, const Tag_DevInfo& device) {
    SetCell(row, kOnlineColumn, device.online ? "1" : "0");
    SetCell(row, kVendorColumn, device.vendor);
    SetCell(row, kModelColumn, device.model);
    SetCell(row, kAddressColumn, device.address);
    SetCell(row, kMacColumn, device.mac);
    SetCell(row, kVersionColumn, device.version);
    rowDevice_[static_cast<size_t>(row)] = number;
}

void IpAddressGrid::ShowNewDevice(int number, const Tag_DevInfo& device) {
    if (number < 1)
        return;
    SetRowCount(number + 1);
    SetCell(number, 0, QString::number(number));
    WriteDeviceRow(number, number, device);
}

void IpAddressGrid::UpdateDevice(int number, const Tag_DevInfo& device) {
    for (int row = 1; row < RowCount(); ++row) {
        if (rowDevice_[static_cast<size_t>(row)] == number) {
            WriteDeviceRow(row, number, device);
            return;
        }
    }
}

void IpAddressGrid::SetSweepFinished(bool finished) {
    sweepFinished_ = finished;
    if (finished)
        table_->horizontalHeader()->viewport()->update();
}

void IpAddressGrid::PrepareFirstShow() {
    table_->setColumnWidth(0, 30);
    paintsCells_ = true;
    table_->viewport()->update();
    table_->horizontalHeader()->viewport()->update();
}

void IpAddressGrid::HeaderPainted() {
    if (!sweepFinished_ || boxesPending_)
        return;
    boxesPending_ = true;
    // Widgets are not made while painting: the boxes follow right after this paint.
    QMetaObject::invokeMethod(
        this,
        [this] {
            boxesPending_ = false;
            if (sweepFinished_)
                CreateFilterBoxes();
        },
        Qt::QueuedConnection);
}

void IpAddressGrid::CreateFilterBoxes() {
    for (const int column : kFilterColumns) {
        if (boxes_[column])
            continue;
        auto* box = new FilterComboBox(this, [this, column] { RefreshFilterBox(column); });
        box->setObjectName(QString("IpAddressGridFilter%1").arg(column));
        box->addItem(Cell(0, column));
        box->setCurrentIndex(0);
        connect(box, &QComboBox::activated, this, [this] { ApplyFilters(); });
        boxes_[column] = box;
        box->show();
        box->raise();
    }
    PlaceFilterBoxes();
}

void IpAddressGrid::PlaceFilterBoxes() {
    for (const int column : kFilterColumns)
        if (boxes_[column])
            boxes_[column]->setGeometry(CellRect(0, column));
}

void IpAddressGrid::DiscardFilterBoxes() {
    for (QPointer<QComboBox>& box : boxes_) {
        delete box.data();
        box = nullptr;
    }
}

QComboBox* IpAddressGrid::FilterBox(int column) const {
    return column >= 0 && column < kColumns ? boxes_[column].data() : nullptr;
}

QRect IpAddressGrid::CellRect(int row, int column) const {
    const QHeaderView* header = table_->horizontalHeader();
    const int x = header->sectionViewportPosition(column);
    const int width = header->sectionSize(column);
    if (row == 0)
        return QRect(header->mapTo(this, QPoint(x, 0)), QSize(width, header->height()));
    const QRect cell = table_->visualRect(table_->model()->index(row - 1, column));
    return QRect(table_->viewport()->mapTo(this, cell.topLeft()), cell.size());
}

int IpAddressGrid::RowAtGlobal(const QPoint& global) const {
    const QHeaderView* header = table_->horizontalHeader();
    const QPoint inHeader = header->viewport()->mapFromGlobal(global);
    if (header->viewport()->rect().contains(inHeader))
        return header->logicalIndexAt(inHeader.x()) >= 0 ? 0 : -1;
    const QPoint inCells = table_->viewport()->mapFromGlobal(global);
    if (!table_->viewport()->rect().contains(inCells) || table_->columnAt(inCells.x()) < 0)
        return -1;
    const int row = table_->rowAt(inCells.y());
    return row < 0 ? -1 : row + 1;
}

int IpAddressGrid::ColumnAtGlobal(const QPoint& global) const {
    const QHeaderView* header = table_->horizontalHeader();
    const QPoint inHeader = header->viewport()->mapFromGlobal(global);
    if (header->viewport()->rect().contains(inHeader))
        return header->logicalIndexAt(inHeader.x());
    const QPoint inCells = table_->viewport()->mapFromGlobal(global);
    return table_->viewport()->rect().contains(inCells) ? table_->columnAt(inCells.x()) : -1;
}

int IpAddressGrid::DragRowAtGlobal(const QPoint& global) const {
    const int y = table_->viewport()->mapFromGlobal(global).y();
    if (y < 0)
        return 0;
    const int row = table_->rowAt(y);
    return row < 0 ? RowCount() - 1 : row + 1;
}

void IpAddressGrid::MousePressed(QMouseEvent* event) {
    const QPoint global = event->globalPosition().toPoint();
    const bool inCells = RowAtGlobal(global) >= 0;
    IpAddressGridMouseDown(event->button(), DragRowAtGlobal(global),
                           inCells ? ColumnAtGlobal(global) : -1);
}

void IpAddressGrid::MouseReleased(QMouseEvent* event) {
    IpAddressGridMouseUp(DragRowAtGlobal(event->globalPosition().toPoint()));
}

void IpAddressGrid::IpAddressGridMouseDown(Qt::MouseButton button, int row, int column) {
    pressRow_ = row;
    if (row < 0 || column < 0)
        return;
    bool changed = false;
    if (button == Qt::LeftButton && row == 0 && column == 0) {
        if (selectAll_) {
            selection_.Clear();
            selectAll_ = false;
        } else {
            for (int r = 1; r < RowCount(); ++r)
                selection_.Add(r);
            selectAll_ = true;
        }
        changed = true;
    } else if (button == Qt::LeftButton && row > 0 && column == 0) {
        if (InRowSelection(row))
            selection_.Remove(row);
        else
            selection_.Add(row);
        changed = true;
    }
    if (changed)
        table_->viewport()->update();
}

void IpAddressGrid::IpAddressGridMouseUp(int row) {
    if (row == pressRow_ || row < 0 || pressRow_ < 0)
        return;
    // The data rows between the two, the header row left out.
    const int first = std::max(1, std::min(row, pressRow_));
    const int last = std::min(RowCount() - 1, std::max(row, pressRow_));
    for (int r = first; r <= last; ++r)
        selection_.Add(r);
    table_->viewport()->update();
}

void IpAddressGrid::RefreshFilterBox(int column) {
    QComboBox* box = FilterBox(column);
    if (!box)
        return;
    box->clear();
    box->addItem(Cell(0, column));
    std::set<QString> texts;
    for (int row = 1; row < RowCount(); ++row)
        texts.insert(Cell(row, column));
    for (const QString& text : texts)
        box->addItem(column == kOnlineColumn ? (ReadLeadingInt(text) != 0 ? "ON" : "OFF") : text);
    box->setCurrentIndex(0);
}

void IpAddressGrid::ApplyFilters() {
    ResetRows();
    selection_.Clear();
    if (!devices_) {
        table_->viewport()->update();
        return;
    }

    DeviceFilter filter;
    for (const int column : kFilterColumns) {
        const QComboBox* box = FilterBox(column);
        if (!box || box->currentIndex() <= 0)
            continue;
        const QString value = box->currentText();
        if (column == kOnlineColumn)
            filter.online = value == "ON" ? 1 : 0;
        else if (column == kVendorColumn)
            filter.vendor = value;
        else if (column == kModelColumn)
            filter.model = value;
        else
            filter.version = value;
    }
    const std::vector<int> result = devices_->Filtered(filter);
    if (!result.empty()) {
        SetRowCount(static_cast<int>(result.size()) + 1);
        for (size_t k = 0; k < result.size(); ++k) {
            const int row = static_cast<int>(k) + 1;
            SetCell(row, 0, QString::number(row));
            WriteDeviceRow(row, result[k], *devices_->Find(result[k]));
        }
    }
    table_->viewport()->update();
}
