#pragma once

#include "app/MyExclusiveIntArray.h"
#include "discovery/DeviceTable.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <vector>

class QComboBox;
class QMouseEvent;
class QMenu;
class QTableWidget;

// The devices grid of the Devices Online page: the header row (row 0) and one row per device,
// with the columns number, online, vendor, model, IP address, MAC and version. It paints its
// cells itself (from PrepareFirstShow on), keeps the row selection on which the popup commands
// act, and filters its rows by online state, vendor, model and version through drop-down boxes
// laid over the headers once the sweep of a discovery run has ended.
//
// Rows and columns are those of the grid: row 0 is the header row, rows 1 to RowCount() - 1
// the data rows; column 0 holds the row number.
class IpAddressGrid : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kColumns = 7;
    static constexpr int kOnlineColumn = 1;
    static constexpr int kVendorColumn = 2;
    static constexpr int kModelColumn = 3;
    static constexpr int kAddressColumn = 4;
    static constexpr int kMacColumn = 5;
    static constexpr int kVersionColumn = 6;

    explicit IpAddressGrid(QWidget* parent = nullptr);

    // The rows, the header row included.
    int RowCount() const;
    void SetRowCount(int rows);
    QString Cell(int row, int column) const;
    void SetCell(int row, int column, const QString& text);
    // The device number a data row shows (0 for none).
    int DeviceAt(int row) const;

    // The device table whose value indexes the filters use (kept by the discovery driver).
    void SetDeviceTable(const DeviceTable* devices) { devices_ = devices; }

    // The header and the placeholder row: "-1" in column 1, columns 2 to 6 empty.
    void ResetRows();
    // A found device takes row `number`; the grid then has number + 1 rows.
    void ShowNewDevice(int number, const Tag_DevInfo& device);
    // Writes columns 1 to 6 of the row that shows the device, if one does.
    void UpdateDevice(int number, const Tag_DevInfo& device);
    // Set when the sweep of a run has ended or was stopped: the next header repaint makes the
    // filter boxes. Cleared when a run starts.
    void SetSweepFinished(bool finished);
    bool SweepFinished() const { return sweepFinished_; }
    // Destroys the filter boxes (a new run starts).
    void DiscardFilterBoxes();

    // The first showing of the page: column 0 becomes 30 wide and the program paints the cells.
    void PrepareFirstShow();
    bool PaintsCells() const { return paintsCells_; }

    // The row selection: grid row numbers in the order marked.
    MyExclusiveIntArray& RowSelection() { return selection_; }
    const MyExclusiveIntArray& RowSelection() const { return selection_; }
    bool SelectAllToggle() const { return selectAll_; }

    // Mouse handling in grid coordinates. row: the row under the pointer by its height alone
    // (0 on or above the header, the last row below the last one), so that a drag from or to
    // outside the cells reaches the first or last row; column: the cell's column, -1 when the
    // pointer is outside the cells. The grid's own mouse events come here; they are public for
    // callers that act on cells directly.
    void IpAddressGridMouseDown(Qt::MouseButton button, int row, int column);
    void IpAddressGridMouseUp(int row);

    // The filter box over a filterable column (1, 2, 3, 6), or nullptr when none is made.
    QComboBox* FilterBox(int column) const;
    // Fills a box with the header text and the distinct texts of its column (on drop-down).
    void RefreshFilterBox(int column);
    // Shows the devices that match every box not at item 0 (on a box's change).
    void ApplyFilters();

    QMenu* IpAddrGridPopupMenu() const { return popupMenu_; }
    QTableWidget* Table() const { return table_; }
    // A cell's rectangle in the grid's coordinates (row 0: the header).
    QRect CellRect(int row, int column) const;

  signals:
    // The popup menu's items; the commands act on RowSelection().
    void ProvisionPopupBtnClick();
    void UpgradePopupBtnClick();
    void RefreshPopupBtnClick();

  private:
    friend class GridTable;
    friend class GridHeader;
    friend class GridCellPainter;

    void HeaderPainted();
    void CreateFilterBoxes();
    void PlaceFilterBoxes();
    void WriteDeviceRow(int row, int number, const Tag_DevInfo& device);
    // Grid row and column under a point given in global coordinates (-1 outside the cells).
    int RowAtGlobal(const QPoint& global) const;
    int ColumnAtGlobal(const QPoint& global) const;
    // The row a drag reaches at a point given in global coordinates (see IpAddressGridMouseDown).
    int DragRowAtGlobal(const QPoint& global) const;
    // The table's and the header's presses and releases.
    void MousePressed(QMouseEvent* event);
    void MouseReleased(QMouseEvent* event);
    bool InRowSelection(int row) const { return selection_.IndexOf(row) >= 0; }

    QTableWidget* table_;
    QMenu* popupMenu_;
    const DeviceTable* devices_ = nullptr;
    MyExclusiveIntArray selection_;
    std::vector<int> rowDevice_;  // per grid row, the device number shown
    bool selectAll_ = false;
    int pressRow_ = -1;
    bool paintsCells_ = false;
    bool sweepFinished_ = false;
    bool boxesPending_ = false;
    QPointer<QComboBox> boxes_[kColumns];
};
