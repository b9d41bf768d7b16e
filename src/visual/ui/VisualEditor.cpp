#include "visual/ui/VisualEditor.h"

#include "app/Dialogs.h"
#include "config/CfgTemplate.h"
#include "visual/ModelLibrary.h"
#include "visual/TemplateActions.h"
#include "visual/ui/ConfigEditorPanel.h"
#include "visual/ui/PictureMapView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace {

constexpr int kNodeRole = Qt::UserRole;

void expandWithDescendants(QTreeWidgetItem* item) {
    item->setExpanded(true);
    for (int i = 0; i < item->childCount(); ++i)
        expandWithDescendants(item->child(i));
}

}  // namespace

VisualEditor::VisualEditor(const VisualEditorControls& controls, CfgTemplate* tpl, Dialogs* dialogs,
                           const QString& workDir, QObject* parent)
    : QObject(parent),
      c_(controls),
      saveButton_(controls.saveTemplateButton),
      tpl_(tpl),
      dialogs_(dialogs),
      workDir_(workDir),
      panel_(new ConfigEditorPanel(controls.ConfigScrollBox, tpl, controls.saveTemplateButton,
                                   dialogs, this)),
      picture_(new PictureMapView(controls.visualDevImg, controls.reactFloatImage,
                                  controls.selectedFloatImage, this)) {
    tpl_->commitEditor = [this] { panel_->CommitPage(); };
    tpl_->clearEditorTables = [this] { panel_->ClearTables(); };
    tpl_->setSaveEnabled = [this](bool on) {
        if (saveButton_)
            saveButton_->setEnabled(on);
    };

    connect(c_.ModelsCombox, &QComboBox::activated, this, &VisualEditor::ModelsComboxSelect);
    connect(c_.CfgOutlineTreeView, &QTreeWidget::currentItemChanged, this,
            [this] { CfgOutlineTreeViewChange(); });
    connect(c_.loadTemplateButton, &QAbstractButton::clicked, this,
            &VisualEditor::loadTemplateButtonClick);
    connect(c_.saveTemplateButton, &QAbstractButton::clicked, this,
            &VisualEditor::saveTemplateButtonClick);
    connect(c_.saveAsTemplateButton, &QAbstractButton::clicked, this,
            &VisualEditor::saveAsTemplateButtonClick);
    connect(picture_, &PictureMapView::keyReleased, this, &VisualEditor::selectKey);
}

VisualEditor::~VisualEditor() {
    tpl_->commitEditor = nullptr;
    tpl_->clearEditorTables = nullptr;
    tpl_->setSaveEnabled = nullptr;
}

void VisualEditor::FillModelList() {
    c_.ModelsCombox->clear();
    c_.ModelsCombox->addItems(ListModels(workDir_));
    if (c_.ModelsCombox->count() > 0)
        c_.ModelsCombox->setCurrentIndex(0);
    previousModel_ = c_.ModelsCombox->currentIndex();
}

void VisualEditor::PhoneCfgTabShow() {
    if (shown_)
        return;
    shown_ = true;
    LoadModel();
}

QString VisualEditor::SelectedModel() const {
    return c_.ModelsCombox->currentIndex() < 0 ? QString() : c_.ModelsCombox->currentText();
}

void VisualEditor::LoadModel() {
    const QString model = SelectedModel();
    if (!mapper_ || mapModel_ != model)
        loadMap(model);
    buildOutline(model);
    LoadModelTemplate(*tpl_, workDir_, model);
}

void VisualEditor::loadMap(const QString& model) {
    picture_->Clear();
    if (!mapper_)
        mapper_ = std::make_unique<ImageMapper>();
    mapper_->SetRootDir(workDir_);
    if (!mapper_->LoadMap(ModelMapPath(workDir_, model)))
        dialogs_->messageKey("LVisualDevError3");
    mapper_->BuildTables();
    if (!picture_->Show(mapper_.get()))
        dialogs_->messageKey("LVisualDevError1");
    mapModel_ = model;
}

void VisualEditor::clearTree() {
    const QSignalBlocker blocker(c_.CfgOutlineTreeView);
    c_.CfgOutlineTreeView->clear();
    treeItems_.clear();
}

void VisualEditor::buildOutline(const QString& model) {
    if (!outline_.Load(ModelJsonDir(workDir_, model), *dialogs_))
        return;
    clearTree();
    const QSignalBlocker blocker(c_.CfgOutlineTreeView);
    for (const CfgOutline::Node& node : outline_.Nodes()) {
        QTreeWidgetItem* item =
            node.parent < 0 ? new QTreeWidgetItem(c_.CfgOutlineTreeView)
                            : new QTreeWidgetItem(treeItems_[static_cast<size_t>(node.parent)]);
        item->setText(0, node.caption);
        item->setData(0, kNodeRole, static_cast<int>(treeItems_.size()));
        treeItems_.push_back(item);
    }
}

QTreeWidgetItem* VisualEditor::NodeItem(int node) const {
    if (node < 0 || node >= static_cast<int>(treeItems_.size()))
        return nullptr;
    return treeItems_[static_cast<size_t>(node)];
}

int VisualEditor::SelectedNode() const {
    const QTreeWidgetItem* item = c_.CfgOutlineTreeView->currentItem();
    return item ? item->data(0, kNodeRole).toInt() : -1;
}

bool VisualEditor::OpenPage(int node) {
    const cJSON* page = ResolvePage(outline_.Reference(node),
                                    ModelJsonDir(workDir_, SelectedModel()), cache_, *dialogs_);
    if (!page)
        return false;
    panel_->BuildPage(node, page);
    return true;
}

void VisualEditor::CfgOutlineTreeViewChange() {
    panel_->CommitPage();
    panel_->Clear();
    const int node = SelectedNode();
    if (node >= 0)
        OpenPage(node);
}

void VisualEditor::CommitPage() {
    panel_->CommitPage();
}

void VisualEditor::ModelsComboxSelect(int index) {
    if (saveButton_ && saveButton_->isEnabled()) {
        if (!dialogs_->question(UiText::key("LMsgChangeNotSaved"), UiText::key("LContinueQ"),
                                Dialogs::Buttons::YesNo)) {
            c_.ModelsCombox->setCurrentIndex(previousModel_);
            return;
        }
        saveButton_->setEnabled(false);
    }
    previousModel_ = index;
    clearTree();
    panel_->Clear();
    tpl_->Parameters().Clear();
    tpl_->ChangedParams().clear();
    cache_.Clear();
    cache_.ResetDiskReads();
    outline_.Clear();
    picture_->Clear();
    mapper_.reset();
    LoadModel();
}

void VisualEditor::visualDevImgMouseMove(int x, int y) {
    picture_->visualDevImgMouseMove(x, y);
}

void VisualEditor::reactFloatImageMouseDown() {
    picture_->reactFloatImageMouseDown();
}

void VisualEditor::reactFloatImageMouseUp() {
    picture_->reactFloatImageMouseUp();
}

void VisualEditor::selectKey(int position) {
    const int node =
        outline_.PictureKeyPosition(mapper_ ? mapper_->KeyId(position).toUtf8() : QByteArray());
    // The position in the picture key list is taken as the node's absolute index.
    QTreeWidgetItem* item = NodeItem(node);
    if (!item) {
        dialogs_->messageKey("LVisualDevError2");
        return;
    }
    c_.CfgOutlineTreeView->setCurrentItem(item);
    expandWithDescendants(item);
}

void VisualEditor::loadTemplateButtonClick() {
    // A refused file leaves the page and what was typed into it as they are.
    if (!LoadChosenTemplate(*tpl_, *dialogs_))
        return;
    const int node = SelectedNode();
    if (node < 0)
        return;
    // The page shows the loaded values: the controls are not committed first.
    panel_->Clear();
    OpenPage(node);
}

void VisualEditor::saveTemplateButtonClick() {
    tpl_->SaveTemplate();
}

void VisualEditor::saveAsTemplateButtonClick() {
    SaveTemplateAsChosen(*tpl_, *dialogs_);
}

void VisualEditor::Shutdown() {
    tpl_->Clear();
    clearTree();
    panel_->Clear();
    cache_.Clear();
    outline_.Clear();
    picture_->Clear();
    mapper_.reset();
}
