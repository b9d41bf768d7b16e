#pragma once

#include "visual/CfgItems.h"

#include <cjson/cJSON.h>
#include <QObject>
#include <QPointer>

class CfgTemplate;
class Dialogs;
class QAbstractButton;
class QScrollArea;
class QWidget;

// The generated settings rows inside the page's scroll area: one caption label and input
// control per item, each control bound to a parameter of the configuration. Edits mark their
// parameter changed and enable the Save button; CommitPage copies the values back.
class ConfigEditorPanel : public QObject {
    Q_OBJECT
  public:
    ConfigEditorPanel(QScrollArea* box, CfgTemplate* tpl, QAbstractButton* saveButton,
                      Dialogs* dialogs, QObject* parent = nullptr);
    ~ConfigEditorPanel() override;

    // Builds the rows of a page object (after Clear) for the outline node given.
    void BuildPage(int node, const cJSON* page);
    // Writes every bound control's value into the configuration, in parameter order.
    void CommitPage();
    // Empties the binding and combo value tables; the controls stay until the next Clear.
    void ClearTables();
    // Empties the tables and destroys every generated control.
    void Clear();

    const CfgItemMap& Items() const { return items_; }
    const ComboValues& Combos() const { return combos_; }
    // The widget that holds the generated controls; null while the panel is empty.
    QWidget* Content() const;
    // The outline node whose page is shown, -1 when none.
    int Node() const { return node_; }

    // Change handler of every generated edit box and selection handler of every combo box.
    void OnItemChanged(QObject* control);
    void ConfigScrollBoxClick();
    void ConfigScrollBoxMouseWheelDown(Qt::KeyboardModifiers modifiers);
    void ConfigScrollBoxMouseWheelUp(Qt::KeyboardModifiers modifiers);

    // Pixels one wheel step moves a scroll bar.
    static constexpr int kWheelStep = 20;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void scrollBy(int pixels, Qt::KeyboardModifiers modifiers);
    bool wheel(class QWheelEvent* event);

    QScrollArea* box_;
    CfgTemplate* tpl_;
    QPointer<QAbstractButton> saveButton_;
    Dialogs* dialogs_;
    CfgItemMap items_;
    ComboValues combos_;
    int node_ = -1;
    int wheelRemainder_ = 0;
};
