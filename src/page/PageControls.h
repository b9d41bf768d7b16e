#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

// Makes a control of a page with its object name and place.
template <typename T>
T* MakeControl(QWidget* parent, const char* name, const QRect& place) {
    auto* w = new T(parent);
    w->setObjectName(name);
    w->setGeometry(place);
    return w;
}

// The same for a control with a caption (buttons, labels, boxes).
template <typename T>
T* MakeCaptioned(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* w = new T(caption, parent);
    w->setObjectName(name);
    w->setGeometry(place);
    return w;
}
