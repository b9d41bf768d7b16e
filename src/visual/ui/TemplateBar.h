#pragma once

#include "page/AppContext.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The template buttons and the model list at the right of the window's top bar (their events
// are handled by the visual editor). The bar's
// left edge stands at x = Left in the top bar; the controls keep their places in the top bar.
class TemplateBar : public QWidget {
    Q_OBJECT
  public:
    static constexpr int Left = 752;

    TemplateBar(const AppContext& ctx, QWidget* parent);

    QLabel* CfgFileLabel;
    QPushButton* loadTemplateButton;
    QPushButton* saveTemplateButton;
    QPushButton* saveAsTemplateButton;
    QComboBox* ModelsCombox;

  private:
    const AppContext& ctx_;
};
