#include "discovery/ui/IpAddressGrid.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QWindow>

namespace {

Tag_DevInfo Device(const char* vendor, const char* model, const char* version, uint8_t online,
                   int n) {
    Tag_DevInfo d;
    d.online = online;
    d.vendor = vendor;
    d.model = model;
    d.version = version;
    d.address = QString("10.0.0.%1").arg(n);
    d.mac = QString("0a-1b-2c-00-00-%1").arg(n, 2, 10, QChar('0'));
    return d;
}

// A shown grid with a device table as the discovery driver fills them.
class Grid : public ::testing::Test {
  protected:
    Grid() {
        grid.SetDeviceTable(&devices);
        grid.show();
        grid.PrepareFirstShow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    void Add(const Tag_DevInfo& d) {
        const int n = devices.Count() + 1;
        devices.Add(n, d);
        devices.SetVendor(n, d.vendor);
        devices.SetModel(n, d.model);
        devices.SetVersion(n, d.version);
        grid.ShowNewDevice(n, d);
    }
    void AddSix() {
        grid.ResetRows();
        Add(Device("Orvo", "X100", "2.0.1", 1, 1));
        Add(Device("Orvo", "X200", "2.0.1", 1, 2));
        Add(Device("Acme", "A1", "1.0", 0, 3));
        Add(Device("Orvo", "X100", "2.0.2", 0, 4));
        Add(Device("Acme", "A2", "1.0", 1, 5));
        Add(Device("Orvo", "X100", "2.0.1", 1, 6));
    }
    QPoint CellCentre(int row, int column) { return grid.CellRect(row, column).center(); }
    QWidget* CellWidget(int row) {
        return row == 0 ? grid.Table()->horizontalHeader()->viewport() : grid.Table()->viewport();
    }
    QPoint InWidget(int row, int column) {
        return CellWidget(row)->mapFrom(&grid, CellCentre(row, column));
    }
    void Press(int row, int column, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(CellWidget(row), button, {}, InWidget(row, column));
    }
    void Release(int row, int column, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(CellWidget(row), button, {}, InWidget(row, column));
    }
    void Click(int row, int column) {
        Press(row, column);
        Release(row, column);
    }
    std::vector<int> Selection() {
        std::vector<int> out;
        for (int i = 0; i < grid.RowSelection().Count(); ++i)
            out.push_back(grid.RowSelection().At(i));
        return out;
    }
    QStringList Column(int column) {
        QStringList out;
        for (int row = 1; row < grid.RowCount(); ++row)
            out << grid.Cell(row, column);
        return out;
    }
    QStringList Items(int column) {
        QStringList out;
        for (int i = 0; i < grid.FilterBox(column)->count(); ++i)
            out << grid.FilterBox(column)->itemText(i);
        return out;
    }
    void MakeBoxes() {
        grid.SetSweepFinished(true);
        grid.Table()->horizontalHeader()->viewport()->repaint();
        QTest::qWait(0);
        QCoreApplication::processEvents();
    }
    // Picks an item of a box as the user does; the list is refreshed when it drops down.
    void Choose(int column, const QString& text, bool dropDown = true) {
        QComboBox* box = grid.FilterBox(column);
        if (dropDown)
            grid.RefreshFilterBox(column);
        const int index = box->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    QColor PixelAt(const QImage& image, int row, int column, int dx, int dy) {
        const QRect r = grid.CellRect(row, column);
        return image.pixelColor(dx >= 0 ? r.left() + dx : r.right() + dx,
                                dy >= 0 ? r.top() + dy : r.bottom() + dy);
    }
    bool HasColour(const QImage& image, int row, int column, const QColor& colour) {
        const QRect r = grid.CellRect(row, column).adjusted(1, 1, -1, -1);
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (image.pixelColor(x, y) == colour)
                    return true;
        return false;
    }

    DeviceTable devices;
    IpAddressGrid grid{nullptr};
};

TEST_F(Grid, StartsWithTheHeaderAndOneNumberedRow) {
    IpAddressGrid fresh(nullptr);
    EXPECT_EQ(fresh.objectName(), "IpAddressGrid");
    EXPECT_EQ(fresh.RowCount(), 2);
    EXPECT_EQ(fresh.Cell(1, 0), "1");
    const QStringList headers = {"",           "Online[+]", "Vendor[+]", "Model[+]",
                                 "IP Address", "MAC",       "Version[+]"};
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(fresh.Cell(0, c), headers[c]);
    EXPECT_EQ(fresh.Table()->columnWidth(0), 120);
    EXPECT_EQ(fresh.Table()->columnWidth(1), 134);
    EXPECT_FALSE(fresh.PaintsCells());
    EXPECT_EQ(grid.Table()->columnWidth(0), 30);
    EXPECT_TRUE(grid.PaintsCells());
    EXPECT_EQ(fresh.font().pixelSize(), 16);
}

TEST_F(Grid, DevicesTakeTheirRowsAndTheResetLeavesThePlaceholder) {
    grid.ResetRows();
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(1, 1), "-1");
    EXPECT_EQ(grid.Cell(1, 2), "");
    Add(Device("Orvo", "unknow", "unknow", 1, 1));
    EXPECT_EQ(grid.RowCount(), 2);  // the first device takes the placeholder row
    Add(Device("Orvo", "unknow", "unknow", 1, 2));
    Add(Device("Orvo", "unknow", "unknow", 1, 3));
    EXPECT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(Column(0), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(Column(1), (QStringList{"1", "1", "1"}));
    EXPECT_EQ(grid.Cell(2, 4), "10.0.0.2");
    EXPECT_EQ(grid.Cell(2, 5), "0a-1b-2c-00-00-02");

    Tag_DevInfo changed = Device("Orvo", "X100", "2.0.4", 1, 2);
    grid.UpdateDevice(2, changed);
    EXPECT_EQ(grid.Cell(2, 3), "X100");
    EXPECT_EQ(grid.Cell(2, 6), "2.0.4");
    EXPECT_EQ(grid.Cell(1, 3), "unknow");
}

TEST_F(Grid, MouseMarksRowsByDragNumberClickAndCorner) {
    AddSix();
    // A drag from row 2 to row 5 in any column marks 2 to 5.
    Press(2, 4);
    Release(5, 4);
    EXPECT_EQ(Selection(), (std::vector<int>{2, 3, 4, 5}));
    // Column 0 of row 3 unmarks row 3 only; again marks it at the end.
    Click(3, 0);
    EXPECT_EQ(Selection(), (std::vector<int>{2, 4, 5}));
    Click(3, 0);
    EXPECT_EQ(Selection(), (std::vector<int>{2, 4, 5, 3}));
    // Clicks on other cells, and right clicks on column 0, change nothing.
    Click(1, 3);
    Press(1, 0, Qt::RightButton);
    Release(1, 0, Qt::RightButton);
    EXPECT_EQ(Selection(), (std::vector<int>{2, 4, 5, 3}));
    // A drag with any button adds rows and never removes any.
    Press(6, 2, Qt::RightButton);
    Release(5, 2, Qt::RightButton);
    EXPECT_EQ(Selection(), (std::vector<int>{2, 4, 5, 3, 6}));
    // The corner selects every row, then clears.
    Click(0, 0);
    EXPECT_TRUE(grid.SelectAllToggle());
    EXPECT_EQ(Selection(), (std::vector<int>{2, 4, 5, 3, 6, 1}));
    Click(0, 0);
    EXPECT_TRUE(Selection().empty());
    EXPECT_FALSE(grid.SelectAllToggle());
    // A drag that starts on the header row leaves the header out.
    Press(0, 3);
    Release(2, 3);
    EXPECT_EQ(Selection(), (std::vector<int>{1, 2}));
}

// Through the window, so that the release reaches the control the press went to wherever the
// pointer is then, as on a screen.
TEST_F(Grid, ADragFromOrToOutsideTheCellsReachesTheFirstOrLastRow) {
    AddSix();
    QWindow* window = grid.windowHandle();
    const QRect lastRow = grid.CellRect(6, 2);
    const QPoint belowRows(lastRow.center().x(), lastRow.bottom() + 40);
    const QRect row4 = grid.CellRect(4, 6);
    const QPoint besideColumns(row4.right() + 30, row4.center().y());
    ASSERT_LT(besideColumns.x(), grid.Table()->viewport()->width());
    const QPoint aboveGrid(100, -20);
    const struct {
        QPoint press, release;
        std::vector<int> rows;
    } cases[] = {
        {CellCentre(3, 4), belowRows, {3, 4, 5, 6}},
        {belowRows, CellCentre(4, 2), {4, 5, 6}},
        {CellCentre(5, 1), aboveGrid, {1, 2, 3, 4, 5}},
        {besideColumns, CellCentre(2, 2), {2, 3, 4}},
        {CellCentre(2, 5), besideColumns, {2, 3, 4}},
        {CellCentre(0, 3), belowRows, {1, 2, 3, 4, 5, 6}},
        {belowRows, CellCentre(6, 0), {}},  // both on the last row
        {CellCentre(0, 2), aboveGrid, {}},  // both at the top
    };
    for (const auto& c : cases) {
        grid.RowSelection().Clear();
        QTest::mousePress(window, Qt::LeftButton, {}, c.press);
        QTest::mouseRelease(window, Qt::LeftButton, {}, c.release);
        EXPECT_EQ(Selection(), c.rows) << "press " << c.press.x() << "," << c.press.y()
                                       << " release " << c.release.x() << "," << c.release.y();
    }
    // Without data rows a drag marks nothing, never the header or a row -1.
    grid.RowSelection().Clear();
    grid.SetRowCount(1);
    QTest::mousePress(window, Qt::LeftButton, {}, CellCentre(0, 3));
    QTest::mouseRelease(window, Qt::LeftButton, {}, belowRows);
    QTest::mousePress(window, Qt::LeftButton, {}, belowRows);
    QTest::mouseRelease(window, Qt::LeftButton, {}, aboveGrid);
    EXPECT_TRUE(Selection().empty());
}

TEST_F(Grid, CellsArePaintedWithTheirColours) {
    AddSix();
    grid.RowSelection().Add(2);
    grid.Table()->selectRow(3);  // the grid's own highlight: row 4
    const QImage image = grid.grab().toImage();
    const QPalette& p = grid.palette();

    EXPECT_EQ(PixelAt(image, 0, 3, -4, -4), p.color(QPalette::Button));
    EXPECT_EQ(PixelAt(image, 1, 0, -4, -4), p.color(QPalette::Button));
    EXPECT_EQ(PixelAt(image, 2, 0, -4, -4), QColor(0, 128, 0));
    EXPECT_EQ(PixelAt(image, 2, 3, -4, -4), QColor(166, 202, 240));
    EXPECT_EQ(PixelAt(image, 4, 3, -4, -4), p.color(QPalette::Highlight));
    EXPECT_EQ(PixelAt(image, 5, 3, -4, -4), p.color(QPalette::Base));

    // Column 1 shows ON in green and OFF in red, nothing for other values.
    EXPECT_TRUE(HasColour(image, 1, 1, QColor(0, 128, 0)));
    EXPECT_FALSE(HasColour(image, 1, 1, QColor(255, 0, 0)));
    EXPECT_TRUE(HasColour(image, 3, 1, QColor(255, 0, 0)));
    grid.SetCell(5, 1, "-1");
    const QImage after = grid.grab().toImage();
    EXPECT_FALSE(HasColour(after, 5, 1, QColor(0, 128, 0)));
    EXPECT_FALSE(HasColour(after, 5, 1, QColor(255, 0, 0)));
    // The text is drawn at the top-left: white text in the marked number cell.
    EXPECT_TRUE(HasColour(image, 2, 0, Qt::white));
}

TEST_F(Grid, FilterBoxesComeAfterTheSweepOverTheirHeaders) {
    AddSix();
    grid.Table()->horizontalHeader()->viewport()->repaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(grid.FilterBox(1), nullptr);

    MakeBoxes();
    for (int column : {1, 2, 3, 6}) {
        QComboBox* box = grid.FilterBox(column);
        ASSERT_NE(box, nullptr) << column;
        EXPECT_EQ(box->geometry(), grid.CellRect(0, column));
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(box->count(), 1);
        EXPECT_EQ(box->currentText(), grid.Cell(0, column));
    }
    EXPECT_EQ(grid.FilterBox(4), nullptr);
    EXPECT_EQ(grid.FilterBox(0), nullptr);

    grid.DiscardFilterBoxes();
    EXPECT_EQ(grid.FilterBox(2), nullptr);
}

TEST_F(Grid, ABoxOffersTheDistinctTextsOfItsColumn) {
    AddSix();
    MakeBoxes();
    grid.RefreshFilterBox(2);
    EXPECT_EQ(Items(2), (QStringList{"Vendor[+]", "Acme", "Orvo"}));
    grid.RefreshFilterBox(6);
    EXPECT_EQ(Items(6), (QStringList{"Version[+]", "1.0", "2.0.1", "2.0.2"}));
    grid.RefreshFilterBox(1);
    EXPECT_EQ(Items(1), (QStringList{"Online[+]", "OFF", "ON"}));
    EXPECT_EQ(grid.FilterBox(1)->currentIndex(), 0);

    // After a reset the "-1" row yields an ON item.
    grid.ResetRows();
    grid.RefreshFilterBox(1);
    EXPECT_EQ(Items(1), (QStringList{"Online[+]", "ON"}));
}

TEST_F(Grid, FiltersShowTheDevicesInEveryChosenList) {
    AddSix();
    MakeBoxes();
    grid.RowSelection().Add(3);

    Choose(2, "Acme");
    EXPECT_EQ(Column(4), (QStringList{"10.0.0.3", "10.0.0.5"}));
    EXPECT_EQ(Column(0), (QStringList{"1", "2"}));
    EXPECT_EQ(Column(1), (QStringList{"0", "1"}));
    EXPECT_EQ(grid.DeviceAt(2), 5);
    EXPECT_EQ(grid.RowSelection().Count(), 0);

    // The lists below drop down while every device is shown; the picks come later.
    Choose(2, "Vendor[+]");
    for (int column : {1, 2, 3, 6})
        grid.RefreshFilterBox(column);
    // Shortest list first, its order kept: the X100s that run 2.0.1.
    Choose(3, "X100", false);
    Choose(6, "2.0.1", false);
    EXPECT_EQ(Column(4), (QStringList{"10.0.0.1", "10.0.0.6"}));
    Choose(1, "ON", false);
    EXPECT_EQ(Column(4), (QStringList{"10.0.0.1", "10.0.0.6"}));
    Choose(1, "OFF", false);
    EXPECT_EQ(grid.RowCount(), 2);  // nothing left: the reset row
    EXPECT_EQ(grid.Cell(1, 1), "-1");
    EXPECT_EQ(grid.Cell(1, 4), "");

    // No device of Acme has the model X100: the reset row only.
    Choose(1, "Online[+]", false);
    Choose(6, "Version[+]", false);
    Choose(2, "Acme", false);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(1, 1), "-1");

    // Everything at item 0: every device in number order.
    Choose(2, "Vendor[+]", false);
    Choose(3, "Model[+]", false);
    EXPECT_EQ(Column(4).size(), 6);
    EXPECT_EQ(Column(4).first(), "10.0.0.1");
}

TEST_F(Grid, AFilterValueNoDeviceHasAnyMoreIsIgnored) {
    AddSix();
    MakeBoxes();
    grid.RefreshFilterBox(3);
    const int a2 = grid.FilterBox(3)->findText("A2");
    devices.SetModel(5, "A3");  // the only A2 changed meanwhile
    grid.FilterBox(3)->setCurrentIndex(a2);
    emit grid.FilterBox(3)->activated(a2);
    EXPECT_EQ(Column(4).size(), 6);
}

TEST_F(Grid, LateDeviceInformationReachesTheRowThatShowsTheDevice) {
    AddSix();
    MakeBoxes();
    Choose(2, "Acme");
    Tag_DevInfo five = *devices.Find(5);
    five.version = "1.1";
    grid.UpdateDevice(5, five);
    EXPECT_EQ(grid.Cell(2, 6), "1.1");
    grid.UpdateDevice(1, Device("Orvo", "Z", "9", 1, 1));  // not shown: nothing changes
    EXPECT_EQ(Column(4), (QStringList{"10.0.0.3", "10.0.0.5"}));
}

TEST_F(Grid, ThePopupMenuOffersItsThreeCommands) {
    QMenu* menu = grid.IpAddrGridPopupMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), "IpAddrGridPopupMenu");
    ASSERT_EQ(menu->actions().size(), 3);
    QSignalSpy provision(&grid, &IpAddressGrid::ProvisionPopupBtnClick);
    QSignalSpy upgrade(&grid, &IpAddressGrid::UpgradePopupBtnClick);
    QSignalSpy refresh(&grid, &IpAddressGrid::RefreshPopupBtnClick);
    QStringList texts;
    for (QAction* a : menu->actions()) {
        texts << a->text();
        EXPECT_TRUE(a->isEnabled());
        a->trigger();
    }
    EXPECT_EQ(texts, (QStringList{"Provision", "Upgrade", "Refresh"}));
    EXPECT_EQ(provision.count(), 1);
    EXPECT_EQ(upgrade.count(), 1);
    EXPECT_EQ(refresh.count(), 1);

    // A right click on the cells opens it.
    QContextMenuEvent event(QContextMenuEvent::Mouse, InWidget(1, 2),
                            CellWidget(1)->mapToGlobal(InWidget(1, 2)));
    QCoreApplication::sendEvent(CellWidget(1), &event);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

}  // namespace
