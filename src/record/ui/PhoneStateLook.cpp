#include "record/ui/PhoneStateLook.h"

#include <QPainter>

PhoneStateLook PhoneStateLookOf(PhoneState state) {
    switch (state) {
        case PhoneState::FileReady:
            return {"LRecStateFileReady", QColor(225, 225, 225)};  // silver
        case PhoneState::Told:
            return {"LRecStateTold", QColor(190, 220, 255)};  // sky blue
        case PhoneState::Fetched:
            return {"LRecStateFetched", QColor(170, 230, 170)};  // green
        case PhoneState::Failed:
            return {"LRecStateFailed", QColor(255, 170, 170)};  // red
        case PhoneState::Unknown:
            return {"LRecStateUnknown", QColor(255, 210, 120)};  // orange
        case PhoneState::Seen:
            return {"LRecStateSeen", QColor(235, 220, 250)};  // lavender
    }
    return {"", QColor()};
}

void StateColourDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QVariant background = index.data(Qt::BackgroundRole);
    if (!(option.state & QStyle::State_Selected) || !background.canConvert<QColor>()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem plain = option;
    plain.state &= ~QStyle::State_Selected;
    QStyledItemDelegate::paint(painter, plain, index);
    painter->save();
    QPen frame(option.palette.color(QPalette::Active, QPalette::Highlight));
    frame.setWidth(2);
    painter->setPen(frame);
    painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
    painter->restore();
}
