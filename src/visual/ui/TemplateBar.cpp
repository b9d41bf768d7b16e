#include "visual/ui/TemplateBar.h"

namespace {

QFont arialPixels(int pixels, QFont::Weight weight = QFont::Normal) {
    QFont font("Arial");
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

}  // namespace

TemplateBar::TemplateBar(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("TemplateBar");
    // Every place below is given relative to the top bar.
    const auto place = [](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(left - Left, top, width, height);
    };
    CfgFileLabel = new QLabel("Cfg file:", this);
    CfgFileLabel->setObjectName("CfgFileLabel");
    CfgFileLabel->setFont(arialPixels(15, QFont::Bold));
    place(CfgFileLabel, 752, 8, 55, 18);

    loadTemplateButton = new QPushButton("Load a Template", this);
    loadTemplateButton->setObjectName("loadTemplateButton");
    place(loadTemplateButton, 832, 6, 107, 25);
    saveTemplateButton = new QPushButton("Save", this);
    saveTemplateButton->setObjectName("saveTemplateButton");
    saveTemplateButton->setEnabled(false);
    place(saveTemplateButton, 940, 6, 75, 25);
    saveAsTemplateButton = new QPushButton("Save as", this);
    saveAsTemplateButton->setObjectName("saveAsTemplateButton");
    place(saveAsTemplateButton, 1016, 6, 75, 25);
    for (QPushButton* b : {loadTemplateButton, saveTemplateButton, saveAsTemplateButton})
        b->setFont(arialPixels(12));

    ModelsCombox = new QComboBox(this);
    ModelsCombox->setObjectName("ModelsCombox");
    ModelsCombox->setFont(arialPixels(12));
    place(ModelsCombox, 1096, 6, 145, 23);
}
