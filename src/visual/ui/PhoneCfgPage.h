#pragma once

#include "app/AppContext.h"

#include <QLabel>
#include <QScrollArea>
#include <QTreeWidget>
#include <QWidget>

class QMouseEvent;
class QWheelEvent;

// The "Phone Configuration" page: the phone picture with its two overlays, the outline of
// settings pages and the panel of generated settings controls.
class PhoneCfgPage : public QWidget {
    Q_OBJECT
  public:
    PhoneCfgPage(const AppContext& ctx, QWidget* parent);

    // Stacked bottom to top: the picture, the hover overlay, the selected overlay.
    QLabel* visualDevImg;
    QLabel* reactFloatImage;
    QLabel* selectedFloatImage;
    QTreeWidget* CfgOutlineTreeView;
    QScrollArea* ConfigScrollBox;
    // The widget inside ConfigScrollBox that holds the generated controls.
    QWidget* ConfigScrollContent;

    void PhoneCfgTabShow();

    void visualDevImgMouseMove(QMouseEvent* event);
    void reactFloatImageMouseDown(QMouseEvent* event);
    void reactFloatImageMouseUp(QMouseEvent* event);
    void CfgOutlineTreeViewChange(QTreeWidgetItem* node);
    void ConfigScrollBoxClick();
    void ConfigScrollBoxMouseWheelDown(QWheelEvent* event);
    void ConfigScrollBoxMouseWheelUp(QWheelEvent* event);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Calls the handler of a mouse or wheel event of the picture, its overlay or the panel.
    void dispatch(QObject* watched, QEvent* event);

    const AppContext& ctx_;
    bool shown_ = false;
};
