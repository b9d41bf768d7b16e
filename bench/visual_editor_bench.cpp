// Visual editor: building a page of 200 items, and switching between two pages 100 times
// through the outline tree (commit, clear, resolve, build), offscreen. Also counts the
// description files read from disk during the switches.
//   visual_editor_bench [rounds]
#include "app/Dialogs.h"
#include "config/CfgTemplate.h"
#include "visual/JsonFile.h"
#include "visual/ui/ConfigEditorPanel.h"
#include "visual/ui/VisualEditor.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

class SilentDialogs : public Dialogs {
  public:
    int shown = 0;
    void message(const UiText&, const UiText&) override { ++shown; }
    bool question(const UiText&, const UiText&, Buttons) override { return true; }
    QString openFile(const QString&) override { return {}; }
    QStringList openFiles(const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QString chooseFolder(const UiText&) override { return {}; }
};

// 200 items: every fourth a combo box, every tenth a four-part address, a label now and then,
// in groups of ten.
QByteArray bigPage(int base) {
    QByteArray page = "{";
    for (int g = 0; g < 20; ++g) {
        page += "\"Group " + QByteArray::number(g) + "\": {";
        for (int i = 0; i < 10; ++i) {
            const int n = base + g * 10 + i;
            const QByteArray p = QByteArray::number(n * 4);
            page += "\"Item " + QByteArray::number(n) + "\": ";
            if (i % 10 == 9)
                page += "{\"PNo\": \"P" + p + ".P" + QByteArray::number(n * 4 + 1) + ".P" +
                        QByteArray::number(n * 4 + 2) + ".P" + QByteArray::number(n * 4 + 3) +
                        "\", \"ViewType\": \"Edit\", \"Hint\": \"address\"}";
            else if (i % 4 == 0)
                page += "{\"PNo\": \"P" + p +
                        "\", \"ViewType\": \"ComboBox\", \"Hint\": \"choose\", \"Choices\": "
                        "[\"Off\", \"On\", \"Auto\"], \"CValues\": [\"0\", \"1\", \"5\"]}";
            else if (i == 7)
                page += "{\"PNo\": \"\", \"ViewType\": \"Label\", \"Hint\": \"\"}";
            else
                page += "{\"PNo\": \"P" + p + "\", \"ViewType\": \"Edit\", \"Hint\": \"text\"}";
            page += i < 9 ? "," : "";
        }
        page += g < 19 ? "}," : "}";
    }
    return "{\"page\": " + page + "}}";
}

void write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// Milliseconds of processor time this thread has used: the figure that does not grow when
// other programs share the machine.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 100;

    QTemporaryDir dir;
    const QString work = dir.path();
    write(work + "/models/B1/json/$outline.json",
          R"({"B1": {"First": "big.json?", "Second": "other.json"}})");
    write(work + "/models/B1/json/big.json", bigPage(0));
    write(work + "/models/B1/json/other.json", bigPage(1000));
    QByteArray bin = "Flag=5678&CheckSum=0";
    for (int p = 0; p < 8000; p += 3)
        bin += "&P" + QByteArray::number(p) + "=" + QByteArray::number(p % 7);
    write(work + "/models/B1/$devCfg.bin", bin + "&end");

    SilentDialogs dialogs;
    CfgTemplate tpl(&dialogs, nullptr);
    QWidget window;
    window.resize(1240, 619);
    auto* page = new QWidget(&window);
    page->setGeometry(0, 32, 1250, 588);
    VisualEditorControls c;
    c.ModelsCombox = new QComboBox(&window);
    c.CfgOutlineTreeView = new QTreeWidget(page);
    c.ConfigScrollBox = new QScrollArea(page);
    c.ConfigScrollBox->setGeometry(725, 0, 509, 550);
    c.visualDevImg = new QLabel(page);
    c.reactFloatImage = new QLabel(page);
    c.selectedFloatImage = new QLabel(page);
    c.loadTemplateButton = new QPushButton(&window);
    c.saveTemplateButton = new QPushButton(&window);
    c.saveAsTemplateButton = new QPushButton(&window);
    VisualEditor editor(c, &tpl, &dialogs, work);
    editor.FillModelList();
    window.show();
    editor.PhoneCfgTabShow();  // the map is missing: two messages, nothing else

    // Page build alone, from the parsed page object.
    const JsonTree tree = ParseJsonText(bigPage(0));
    const cJSON* big = cJSON_GetObjectItem(tree.get(), "page");
    std::vector<double> builds, buildsCpu;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const double cpu = cpuMs();
        editor.Panel()->BuildPage(0, big);
        app.processEvents();
        buildsCpu.push_back(cpuMs() - cpu);
        builds.push_back(t.nsecsElapsed() / 1e6);
    }
    const size_t bound = editor.Panel()->Items().size();

    // Page switches through the tree.
    std::vector<double> switches, switchesCpu;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const double cpu = cpuMs();
        c.CfgOutlineTreeView->setCurrentItem(editor.NodeItem(i % 2));
        app.processEvents();
        switchesCpu.push_back(cpuMs() - cpu);
        switches.push_back(t.nsecsElapsed() / 1e6);
    }
    const double totalMs = total.nsecsElapsed() / 1e6;

    std::printf("page of 200 items (%zu bound controls), built and painted %d times:\n", bound,
                rounds);
    std::printf("  wall median %.2f ms, max %.2f ms; processor median %.2f ms\n", median(builds),
                *std::max_element(builds.begin(), builds.end()), median(buildsCpu));
    std::printf("%d switches between two such pages (commit, clear, resolve, build, paint):\n",
                rounds);
    std::printf("  wall median %.2f ms, max %.2f ms, total %.0f ms; processor median %.2f ms\n",
                median(switches), *std::max_element(switches.begin(), switches.end()), totalMs,
                median(switchesCpu));
    std::printf("description files read from disk during the switches: %d (pages: 2)\n",
                editor.Cache().DiskReads());
    return editor.Cache().DiskReads() == 2 ? 0 : 1;
}
