#include "visual/ui/EditorFixture.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QImage>

EditorControls::EditorControls()
    : bar(new QWidget(&window)),
      page(new QWidget(&window)),
      visualDevImg(new QLabel(page)),
      reactFloatImage(new QLabel(page)),
      selectedFloatImage(new QLabel(page)),
      tree(new QTreeWidget(page)),
      box(new QScrollArea(page)),
      models(new QComboBox(bar)),
      loadButton(new QPushButton("Load a Template", bar)),
      saveButton(new QPushButton("Save", bar)),
      saveAsButton(new QPushButton("Save as", bar)) {
    window.resize(1240, 619);
    bar->setGeometry(0, 0, 1240, 30);
    page->setGeometry(0, 32, 1250, 588);
    visualDevImg->setGeometry(0, 0, 500, 550);
    tree->setGeometry(504, 0, 217, 550);
    box->setGeometry(725, 0, 509, 550);
    loadButton->setGeometry(832, 6, 107, 25);
    saveButton->setGeometry(940, 6, 75, 25);
    saveAsButton->setGeometry(1016, 6, 75, 25);
    models->setGeometry(1096, 6, 145, 23);
    saveButton->setEnabled(false);
    reactFloatImage->hide();
    selectedFloatImage->hide();
}

VisualEditorControls EditorControls::controls() const {
    VisualEditorControls c;
    c.ModelsCombox = models;
    c.CfgOutlineTreeView = tree;
    c.ConfigScrollBox = box;
    c.visualDevImg = visualDevImg;
    c.reactFloatImage = reactFloatImage;
    c.selectedFloatImage = selectedFloatImage;
    c.loadTemplateButton = loadButton;
    c.saveTemplateButton = saveButton;
    c.saveAsTemplateButton = saveAsButton;
    return c;
}

void WritePng(const QString& path, int width, int height, Qt::GlobalColor color) {
    QDir().mkpath(QFileInfo(path).path());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    ASSERT_TRUE(image.save(path, "PNG")) << path.toStdString();
}

namespace {

const char* kOutline = R"({"T": {
    "Status": "status.json",
    "Accounts": {"Account 1": "account.json?Account1", "Account 2": "account.json?Account2"},
    "Network": "network.json",
    "Broken": "missing.json"
}})";

const char* kAccount = R"({"account": {
    "Account1": {
        "Register": {
            "Active": {"PNo": "P1001", "ViewType": "ComboBox", "Hint": "line on",
                       "Choices": ["Disabled", "Enabled"], "CValues": ["0", "1"]},
            "User": {"PNo": "P1004", "ViewType": "Edit", "Hint": "user name"}
        },
        "Server": {"PNo": "P1003", "ViewType": "Edit", "Hint": "server"},
        "Transport": {"PNo": "P1008", "ViewType": "ComboBox", "Hint": "transport",
                      "Choices": ["UDP", "TCP", "TLS"], "CValues": ["10", "20", "30"]}
    },
    "Account2": {
        "User": {"PNo": "P1104", "ViewType": "Edit", "Hint": "user name"}
    }
}})";

const char* kNetwork = R"({"network": {
    "Mode": {"PNo": "P200", "ViewType": "ComboBox", "Hint": "mode",
             "Choices": ["DHCP", "Static", "PPPoE"], "CValues": ["0", "-1", "2"]},
    "Address": {"PNo": "P201.P202.P203.P204", "ViewType": "Edit", "Hint": "address"},
    "Note": {"PNo": "", "ViewType": "Label", "Hint": ""},
    "Host name": {"PNo": "P210", "ViewType": "Edit", "Hint": "host"},
    "Host again": {"PNo": "P210", "ViewType": "Edit", "Hint": "host"}
}})";

const char* kStatus = R"({"status": {"Firmware": {"PNo": "P0", "ViewType": "Label", "Hint": ""}}})";

QByteArray mapXml(const char* model) {
    return QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<Device vendor="Test" model=")") +
           model + R"(" version="1" hardLinekeyCount="2" multipage="0" basePath="/models/)" +
           model + R"(/dev/">
  <bg img="bg.png"/>
  <keys>
    <item class="line" id="Account1" index="1" keyValue="1" left="10" top="20" width="30" height="20" normalImg="n.png" hoverImg="h1.png" selectedImg="s1.png"/>
    <item class="line" id="ACCOUNT2" index="2" keyValue="2" left="41" top="20" width="30" height="20" normalImg="n.png" hoverImg="h2.png" selectedImg="s2.png"/>
    <item class="pad" id="Network" index="3" keyValue="3" left="10" top="100" width="60" height="60" normalImg="n.png" hoverImg="nohover.png" selectedImg="s3.png"/>
    <item class="pad" id="Unknown" index="4" keyValue="4" left="100" top="100" width="20" height="20" normalImg="n.png" hoverImg="h4.png" selectedImg="s4.png"/>
  </keys>
</Device>)";
}

void writeModel(const TempDir& dir, const QString& root, const char* model) {
    dir.write(root + "/json/$outline.json", kOutline);
    dir.write(root + "/json/account.json", kAccount);
    dir.write(root + "/json/network.json", kNetwork);
    dir.write(root + "/json/status.json", kStatus);
    dir.write(root + "/dev/map.xml", mapXml(model));
    WritePng(dir.file(root + "/dev/bg.png"), 500, 550, Qt::darkGray);
    for (const char* name : {"h1.png", "h2.png", "h4.png"})
        WritePng(dir.file(root + "/dev/" + name), 30, 20, Qt::yellow);
    for (const char* name : {"s1.png", "s2.png", "s3.png", "s4.png"})
        WritePng(dir.file(root + "/dev/" + name), 30, 20, Qt::green);
}

}  // namespace

void WriteTestLibrary(const TempDir& dir) {
    writeModel(dir, "models/T1", "T1");
    dir.write("models/T1/$devCfg.bin",
              "Flag=5678&CheckSum=0&P1001=1&P1003=sip.example.test&P1004={$username.line.1}"
              "&P1008=20&P200=1&P201=192&P202=168&P203=1&P204=10&P210=phone&end");
    writeModel(dir, "models/T2", "T2");
    dir.write("models/T2/$devCfg.bin", "Flag=5678&CheckSum=0&P1004=second&end");
    dir.write("default/$json/$outline.json", R"({"D": {"Network": "network.json"}})");
    dir.write("default/$json/network.json", kNetwork);
    dir.write("default/$cfg.bin", "Flag=5678&CheckSum=0&P210=default&end");
}

EditorTest::EditorTest() : tpl(&dialogs, nullptr) {
    WriteTestLibrary(dir);
    editor = std::make_unique<VisualEditor>(ui.controls(), &tpl, &dialogs, dir.path());
    editor->FillModelList();
    ui.window.show();
}

QWidget* EditorTest::widgetAt(int x, int y) const {
    QWidget* content = ui.box->widget();
    if (!content)
        return nullptr;
    for (QObject* child : content->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && w->x() == x && w->y() == y && !qobject_cast<QLabel*>(w))
            return w;
    }
    return nullptr;
}

void EditorTest::selectNode(int node) {
    ui.tree->setCurrentItem(editor->NodeItem(node));
}
