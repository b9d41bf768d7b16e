#pragma once

#include "visual/CfgOutline.h"
#include "visual/DescriptionCache.h"
#include "visual/ImageMapper.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

class CfgTemplate;
class ConfigEditorPanel;
class Dialogs;
class PictureMapView;
class QAbstractButton;
class QComboBox;
class QLabel;
class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;

// The controls of the Phone Configuration page and of the template bar that the visual
// editor drives. The editor connects their signals itself.
struct VisualEditorControls {
    QComboBox* ModelsCombox = nullptr;
    QTreeWidget* CfgOutlineTreeView = nullptr;
    QScrollArea* ConfigScrollBox = nullptr;
    QLabel* visualDevImg = nullptr;
    QLabel* reactFloatImage = nullptr;
    QLabel* selectedFloatImage = nullptr;
    QAbstractButton* loadTemplateButton = nullptr;
    QAbstractButton* saveTemplateButton = nullptr;
    QAbstractButton* saveAsTemplateButton = nullptr;
};

// The visual configuration editor: the model list, the outline tree, the generated settings
// rows, the device picture map and the template buttons, over the one configuration. It
// fills the configuration's editor hooks (commit, table clearing, Save button state).
class VisualEditor : public QObject {
    Q_OBJECT
  public:
    VisualEditor(const VisualEditorControls& controls, CfgTemplate* tpl, Dialogs* dialogs,
                 const QString& workDir, QObject* parent = nullptr);
    ~VisualEditor() override;

    // Start-up: the model directories into ModelsCombox, item 0 selected.
    void FillModelList();
    // Every showing of the page; the first one loads the selected model.
    void PhoneCfgTabShow();
    // Exit: the configuration, the tables, the generated controls and the map are freed.
    void Shutdown();

    // Handlers, connected to the controls by the constructor.
    void ModelsComboxSelect(int index);
    void LoadModel();
    // Resolves the node's page and builds it; false when nothing was built.
    bool OpenPage(int node);
    void CfgOutlineTreeViewChange();
    void visualDevImgMouseMove(int x, int y);
    void reactFloatImageMouseDown();
    void reactFloatImageMouseUp();
    void loadTemplateButtonClick();
    void saveTemplateButtonClick();
    void saveAsTemplateButtonClick();
    // Copies the generated controls' values into the configuration (also the batch's hook).
    void CommitPage();

    // The selected model name ("" for none).
    QString SelectedModel() const;
    // The absolute index of the selected outline node, -1 when none is.
    int SelectedNode() const;
    QTreeWidgetItem* NodeItem(int node) const;
    const CfgOutline& Outline() const { return outline_; }
    const DescriptionCache& Cache() const { return cache_; }
    const ImageMapper* Mapper() const { return mapper_.get(); }
    ConfigEditorPanel* Panel() const { return panel_; }
    PictureMapView* PictureView() const { return picture_; }

  private:
    void loadMap(const QString& model);
    void buildOutline(const QString& model);
    void clearTree();
    void selectKey(int position);

    VisualEditorControls c_;
    QPointer<QAbstractButton> saveButton_;
    CfgTemplate* tpl_;
    Dialogs* dialogs_;
    QString workDir_;
    ConfigEditorPanel* panel_;
    PictureMapView* picture_;
    CfgOutline outline_;
    DescriptionCache cache_;
    std::unique_ptr<ImageMapper> mapper_;
    QString mapModel_;  // the model whose map is loaded
    std::vector<QTreeWidgetItem*> treeItems_;
    int previousModel_ = -1;
    bool shown_ = false;
};
