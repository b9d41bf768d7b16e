#pragma once

#include "page/AppContext.h"

#include <QLabel>
#include <QScrollArea>
#include <QTreeWidget>
#include <QWidget>

// The "Phone Configuration" page: the phone picture with its two overlays, the outline of
// settings pages and the panel of generated settings controls. Their events are handled by the
// visual editor (VisualEditor), which the window makes over these controls and the template bar.
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

  private:
    const AppContext& ctx_;
};
