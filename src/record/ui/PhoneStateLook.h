#pragma once

#include "record/RecordEvents.h"
#include "record/RecordReader.h"

#include <QColor>
#include <QStyledItemDelegate>

// How the page shows a state: the language key of its words and its colour.
struct PhoneStateLook {
    const char* textKey;
    QColor colour;
};
PhoneStateLook PhoneStateLookOf(PhoneState state);

// Paints a cell's own background colour also when its row is selected (the selection then
// shows as a frame in the selection colour), so the state colour stays in sight.
class StateColourDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
