#include "config/ui/ToolStatusDelegate.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QMap>
#include <QProxyStyle>
#include <QStyleOptionViewItem>
#include <QTableWidget>

namespace {

// Keeps what the grid's status cells were drawn with, then draws them as usual.
class RecordingStyle : public QProxyStyle {
  public:
    struct Drawn {
        QString text;
        QColor background;
        QColor textColor;
        bool selected;
        bool wraps;
    };
    RecordingStyle() : QProxyStyle("Fusion") {}

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option);
        if (element == CE_ItemViewItem && item && item->index.column() == 2) {
            const bool selected = item->state & State_Selected;
            drawn[item->index.row()] = {
                item->text, item->backgroundBrush.color(),
                item->palette.color(selected ? QPalette::HighlightedText : QPalette::Text),
                selected, (item->features & QStyleOptionViewItem::WrapText) != 0};
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    mutable QMap<int, Drawn> drawn;
};

TEST(ToolStatusDelegate, DrawsEveryStatusInItsColourWithItsText) {
    RecordingStyle style;
    QTableWidget grid(0, 3);
    grid.setStyle(&style);
    grid.setSelectionBehavior(QAbstractItemView::SelectRows);
    grid.setSelectionMode(QAbstractItemView::MultiSelection);
    grid.setItemDelegateForColumn(
        2, new ToolStatusDelegate([](const QString& key) { return "tr:" + key; }, &grid));

    const QColor white(255, 255, 255), black(0, 0, 0);
    const struct {
        const char* code;
        bool selected;
        QString text;
        QColor background;  // invalid: the selection colour
        QColor textColor;
    } cases[] = {
        {"1129", false, "tr:LToolES_LoadErr", QColor(255, 255, 0), black},
        {"1130", false, "tr:LToolES_EFailed", QColor(255, 0, 0), black},
        {"1131", false, "tr:LToolES_SaveFailed", QColor(255, 0, 0), black},
        {"1132", false, "tr:LToolES_OK", QColor(0, 128, 0), white},
        {"1134", false, "tr:LToolES_InvalidFormat", QColor(166, 202, 240), black},
        {"1136", false, "tr:LToolES_Skipped", QColor(192, 192, 192), black},
        {"1137", false, "tr:LToolES_Wait", white, black},
        {"1137", true, "tr:LToolES_Wait", QColor(), QColor()},
        {"1132", true, "tr:LToolES_OK", QColor(0, 128, 0), white},
        {"1134", true, "tr:LToolES_InvalidFormat", QColor(166, 202, 240), black},
        {"999", false, "999", QColor(), QColor()},
    };
    grid.setRowCount(std::size(cases));
    for (int r = 0; r < grid.rowCount(); ++r) {
        grid.setItem(r, 2, new QTableWidgetItem(cases[r].code));
        if (cases[r].selected)
            grid.selectRow(r);
    }
    grid.resize(500, 500);
    grid.show();
    const QImage image = grid.viewport()->grab().toImage();

    const QColor highlight = grid.palette().color(QPalette::Highlight);
    const QColor inactiveHighlight = grid.palette().color(QPalette::Inactive, QPalette::Highlight);
    for (int r = 0; r < grid.rowCount(); ++r) {
        const auto& c = cases[r];
        SCOPED_TRACE(std::string(c.code) + (c.selected ? " selected" : ""));
        ASSERT_TRUE(style.drawn.contains(r));
        const RecordingStyle::Drawn& d = style.drawn[r];
        EXPECT_EQ(d.text, c.text);
        EXPECT_FALSE(d.wraps && c.background.isValid());

        // The cell's right end, away from the text.
        const QRect rect = grid.visualItemRect(grid.item(r, 2));
        const QColor pixel = image.pixelColor(rect.right() - 3, rect.center().y());
        if (c.code == QString("999"))
            continue;
        if (c.background.isValid()) {
            EXPECT_FALSE(d.selected);
            EXPECT_EQ(d.textColor, c.textColor);
            EXPECT_EQ(pixel, c.background);
        } else {
            EXPECT_TRUE(d.selected);
            EXPECT_TRUE(pixel == highlight || pixel == inactiveHighlight)
                << pixel.name().toStdString();
        }
    }
}

TEST(ToolStatusDelegate, KnowsTheDrawnCodesOnly) {
    for (int code : {1129, 1130, 1131, 1132, 1134, 1136, 1137})
        EXPECT_TRUE(ToolStatusLookOf(code).has_value()) << code;
    for (int code : {0, 1128, 1133, 1135, 1138})
        EXPECT_FALSE(ToolStatusLookOf(code).has_value()) << code;
}

}  // namespace
