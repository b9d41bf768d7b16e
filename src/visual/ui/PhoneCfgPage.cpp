#include "visual/ui/PhoneCfgPage.h"

namespace {

QLabel* imageControl(const char* name, QWidget* parent) {
    auto* image = new QLabel(parent);
    image->setObjectName(name);
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image->setScaledContents(false);
    return image;
}

}  // namespace

PhoneCfgPage::PhoneCfgPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("PhoneCfgTab");

    visualDevImg = imageControl("visualDevImg", this);
    visualDevImg->setGeometry(0, 0, 500, 550);
    visualDevImg->setMouseTracking(true);
    reactFloatImage = imageControl("reactFloatImage", this);
    reactFloatImage->hide();
    selectedFloatImage = imageControl("selectedFloatImage", this);
    selectedFloatImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    selectedFloatImage->hide();
    reactFloatImage->raise();
    selectedFloatImage->raise();

    CfgOutlineTreeView = new QTreeWidget(this);
    CfgOutlineTreeView->setObjectName("CfgOutlineTreeView");
    CfgOutlineTreeView->setGeometry(504, 0, 217, 550);
    CfgOutlineTreeView->setHeaderHidden(true);
    CfgOutlineTreeView->setColumnCount(1);
    CfgOutlineTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    CfgOutlineTreeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    CfgOutlineTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    CfgOutlineTreeView->setAllColumnsShowFocus(true);
    CfgOutlineTreeView->setIndentation(19);

    ConfigScrollBox = new QScrollArea(this);
    ConfigScrollBox->setObjectName("ConfigScrollBox");
    ConfigScrollBox->setGeometry(725, 0, 509, 550);
    ConfigScrollBox->setFrameShape(QFrame::StyledPanel);
    QFont font("Arial");
    font.setPixelSize(13);
    ConfigScrollBox->setFont(font);
    ConfigScrollContent = new QWidget;
    ConfigScrollContent->setObjectName("ConfigScrollContent");
    ConfigScrollContent->resize(480, 10);
    ConfigScrollBox->setWidget(ConfigScrollContent);
    ConfigScrollBox->setWidgetResizable(false);
}
