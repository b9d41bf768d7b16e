#include "config/ui/ToolStatusDelegate.h"

#include "app/Notices.h"

#include <QApplication>
#include <QStyle>

std::optional<ToolStatusLook> ToolStatusLookOf(int code) {
    const QColor black(0, 0, 0);
    switch (code) {
        case ToolStatusLoadErr:
            return ToolStatusLook{"LToolES_LoadErr", QColor(255, 255, 0), black};
        case ToolStatusEncryptFailed:
            return ToolStatusLook{"LToolES_EFailed", QColor(255, 0, 0), black};
        case ToolStatusSaveFailed:
            return ToolStatusLook{"LToolES_SaveFailed", QColor(255, 0, 0), black};
        case ToolStatusOk:
            return ToolStatusLook{"LToolES_OK", QColor(0, 128, 0), QColor(255, 255, 255)};
        case ToolStatusInvalidFormat:
            return ToolStatusLook{"LToolES_InvalidFormat", QColor(166, 202, 240), black};
        case ToolStatusSkipped:
            return ToolStatusLook{"LToolES_Skipped", QColor(192, 192, 192), black};
        case ToolStatusWait:
            return ToolStatusLook{"LToolES_Wait", QColor(255, 255, 255), black};
        default:
            return std::nullopt;
    }
}

ToolStatusDelegate::ToolStatusDelegate(TranslateFn translate, QObject* parent)
    : QStyledItemDelegate(parent), translate_(std::move(translate)) {}

void ToolStatusDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    bool isNumber = false;
    const int code = index.data(Qt::DisplayRole).toString().toInt(&isNumber);
    const std::optional<ToolStatusLook> look = isNumber ? ToolStatusLookOf(code) : std::nullopt;
    if (!look) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    opt.text = translate_ ? translate_(look->textKey) : QString(look->textKey);
    opt.features &= ~QStyleOptionViewItem::WrapText;
    const bool keepSelection = code == ToolStatusWait && (opt.state & QStyle::State_Selected);
    if (!keepSelection) {
        opt.state &= ~QStyle::State_Selected;
        opt.backgroundBrush = look->background;
        opt.palette.setColor(QPalette::Text, look->text);
    }
    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
}
