#include "app/ui/Unit1.h"

#include "app/EscapedErrors.h"
#include "app/Numbers.h"
#include "app/ui/Captions.h"
#include "batch/ui/CsvBatchPage.h"
#include "config/ui/ToolPage.h"
#include "discovery/ui/DevicesOnlinePage.h"
#include "record/ui/ProvisioningPage.h"
#include "servers/ui/ServerPage.h"
#include "visual/ui/PhoneCfgPage.h"
#include "visual/ui/TemplateBar.h"
#include "visual/ui/VisualEditor.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace {

const char* const kLogPrefix = "QRV";

// The process's current directory, empty when it cannot be determined (for example when it
// has been removed).
QString currentDirectory() {
    const QString path = QDir::currentPath();
    if (path.isEmpty() || path.size() > 1024 || !QFileInfo(path).isDir())
        return {};
    return path;
}

}  // namespace

TForm1::TForm1(Dialogs* dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ownDialogs_(dialogs ? nullptr : std::make_unique<QtDialogs>(&language_, this)),
      dialogs_(dialogs ? dialogs : ownDialogs_.get()),
      localization_(&language_, dialogs_),
      cfg_(dialogs_, &log_) {
    setObjectName("Form1");
    ctx_.settings = &settings_;
    ctx_.localization = &localization_;
    ctx_.log = &log_;
    ctx_.dialogs = dialogs_;
    ctx_.cfg = &cfg_;
    ctx_.notices = &notices_;
    ctx_.record = &record_;
    // The working directory, captured once; the pages read their paths from it.
    workDir_ = currentDirectory();
    workDirKnown_ = !workDir_.isEmpty();
    ctx_.workDir = workDir_;
    ctx_.serverChoice = [this] { return ServerTab->Choice(); };
    ctx_.httpServerActive = [this] { return ServerTab->HttpServerActive(); };
    ctx_.currentModel = [this] { return TemplateBar1->ModelsCombox->currentText(); };
    ctx_.showServerState = [this](ServerKind server, const QString& text, bool running) {
        showServerState(server, text, running);
    };
    buildWindow();
    SetEscapedExceptionHandler([this](std::exception_ptr e) { ApplicationEvents1Exception(e); });
    FormCreate();
}

TForm1::~TForm1() {
    SetEscapedExceptionHandler(nullptr);
    FormDestroy();
    // The editor and the pages go before the objects they refer to.
    delete visualEditor;
    delete PageControl1;
    delete Panel5;
    // The servers are gone: the record commits what they left and closes.
    record_.Close();
}

void TForm1::SetLabelColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

void TForm1::showServerState(ServerKind server, const QString& text, bool running) {
    // In the order of ServerKind.
    QLabel* const labels[] = {HttpServerStatusLabel, PnpServerStatusLabel, TftpServerStatusLabel,
                              DhcpServerStatusLabel};
    const auto index = static_cast<size_t>(server);
    if (index >= std::size(labels))
        return;
    labels[index]->setText(text);
    SetLabelColor(labels[index], running ? RunningColor() : StoppedColor());
}

void TForm1::buildWindow() {
    setWindowTitle(Title);
    QFont font("Arial");
    setFont(font);
    setFixedSize(1240, 619);
    setAttribute(Qt::WA_AlwaysShowToolTips);

    Panel5 = new QFrame(this);
    Panel5->setObjectName("Panel5");
    Panel5->setGeometry(0, 0, 1240, 30);
    const auto label = [this](const char* name, const QString& text, int left, int width) {
        auto* l = new QLabel(text, Panel5);
        l->setObjectName(name);
        l->setGeometry(left, 7, width, 18);
        return l;
    };
    // Each server's name and state, side by side left of the template bar.
    HttpServerLabel = label("HttpServerLabel", "HTTP Server:", 6, 80);
    HttpServerStatusLabel = label("HttpServerStatusLabel", "Stop", 88, 100);
    PnpServerLabel = label("PnpServerLabel", "PNP Server:", 192, 80);
    PnpServerStatusLabel = label("PnpServerStatusLabel", "Stop", 274, 94);
    TftpServerLabel = label("TftpServerLabel", "TFTP Server:", 372, 80);
    TftpServerStatusLabel = label("TftpServerStatusLabel", "Stop", 454, 94);
    DhcpServerLabel = label("DhcpServerLabel", "DHCP Server:", 552, 84);
    DhcpServerStatusLabel = label("DhcpServerStatusLabel", "Stop", 638, 110);
    for (QLabel* state : {HttpServerStatusLabel, PnpServerStatusLabel, TftpServerStatusLabel,
                          DhcpServerStatusLabel})
        SetLabelColor(state, StoppedColor());

    TemplateBar1 = new TemplateBar(ctx_, Panel5);
    TemplateBar1->setGeometry(TemplateBar::Left, 0, 1241 - TemplateBar::Left, 30);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(0, 32, 1250, 588);
    PhoneCfgTab = new PhoneCfgPage(ctx_, PageControl1);
    CsvBatchTab = new CsvBatchPage(ctx_, PageControl1);
    DevicesOnlineTab = new DevicesOnlinePage(ctx_, PageControl1);
    ServerTab = new ServerPage(ctx_, PageControl1);
    ToolTab = new ToolPage(ctx_, PageControl1);
    ProvisioningTab = new ProvisioningPage(ctx_, PageControl1);
    PageControl1->addTab(PhoneCfgTab, "Phone Configuration");
    PageControl1->addTab(CsvBatchTab, "Cfg Batch");
    PageControl1->addTab(DevicesOnlineTab, "Devices Online");
    PageControl1->addTab(ServerTab, "L_ServersSettings");
    PageControl1->addTab(ToolTab, "Tools");
    PageControl1->addTab(ProvisioningTab, "Provisioning");
    PageControl1->setCurrentWidget(PhoneCfgTab);
    currentPage_ = PhoneCfgTab;
    connect(PageControl1, &QTabWidget::currentChanged, this, Guarded([this](int index) {
                QWidget* next = PageControl1->widget(index);
                if (next == currentPage_)
                    return;
                pageExit(currentPage_);
                currentPage_ = next;
                pageShow(next);
            }));
}

void TForm1::FormCreate() {
    // The device grid writes its own header row and the "1" of row 1.

    // The model list: the folders under ./models (none without a working directory).
    visualEditor = new VisualEditor(
        {TemplateBar1->ModelsCombox, PhoneCfgTab->CfgOutlineTreeView, PhoneCfgTab->ConfigScrollBox,
         PhoneCfgTab->visualDevImg, PhoneCfgTab->reactFloatImage, PhoneCfgTab->selectedFloatImage,
         TemplateBar1->loadTemplateButton, TemplateBar1->saveTemplateButton,
         TemplateBar1->saveAsTemplateButton},
        &cfg_, dialogs_, workDir_, this);
    if (workDirKnown_)
        visualEditor->FillModelList();
    else
        dialogs_->messageKey("LAppError3");

    // Without a working directory no path is formed from it: no settings, no log.
    if (workDirKnown_)
        settings_.Load(workDir_);

    localization_.SetWorkDir(workDir_);
    localization_.applyCaptions = [this](const LanguageTable& table) {
        // Qt's own dialogs and buttons follow the language too.
        qtTranslation_.Use(table.Translate("LLanguageCode"));
        ApplyCaptionsToAllWindows(table);
        // The captions know no state: a running server keeps showing that it runs.
        ServerTab->ShowServerStates();
    };
    localization_.Start(settings_);

    const int totalCount = settings_.ReadInt(Setting::LogTotalCount);
    log_.SetDirectory(workDir_);
    log_.Open();
    log_.Write(QByteArray(kLogPrefix) + " Opened!");
    if (totalCount > 0) {
        log_.TidyUp(totalCount);
        log_.Write("LOGGER: Tide up. Only keep " + QByteArray::number(totalCount) + " log files.");
    }
    ServerTab->FillLogSetting(totalCount);
    openRecord();
}

void TForm1::openRecord() {
    record_.SetFailureHandler([this](const QString& path, const QString& reason) {
        // The writer thread never waits for the window.
        if (QThread::currentThread() == thread())
            recordFailed(path, reason);
        else
            QMetaObject::invokeMethod(
                this, [this, path, reason] { recordFailed(path, reason); }, Qt::QueuedConnection);
    });
    // Without a working directory no path is formed from it.
    if (workDirKnown_)
        record_.Open(workDir_ + "/db/provisioning.sqlite",
                     settings_.ReadInt(Setting::RecordKeepDays));
}

void TForm1::recordFailed(const QString& path, const QString& reason) {
    log_.Write("RECORD: Recording is off. " + path + ": " + reason);
    dialogs_->message(UiText::key("LRecordError1").addLiteral(path + ": " + reason));
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (firstShown_)
        return;
    firstShown_ = true;
    Guarded([this] { pageShow(currentPage_); })();
}

void TForm1::pageShow(QWidget* page) {
    shownPages_.insert(page);
    if (page == PhoneCfgTab)
        visualEditor->PhoneCfgTabShow();
    else if (page == CsvBatchTab)
        CsvBatchTab->CsvBatchTabShow();
    else if (page == DevicesOnlineTab)
        DevicesOnlineTab->DevicesOnlineTabShow();
    else if (page == ServerTab)
        ServerTab->ServerTabShow();
    else if (page == ToolTab)
        ToolTab->ToolTabShow();
    else if (page == ProvisioningTab)
        ProvisioningTab->ProvisioningTabShow();
}

void TForm1::pageExit(QWidget* page) {
    // A page stores only what its showing has put into its controls.
    if (!shownPages_.contains(page))
        return;
    if (page == CsvBatchTab)
        CsvBatchTab->CsvBatchTabExit();
    else if (page == DevicesOnlineTab)
        DevicesOnlineTab->DevicesOnlineTabExit();
    else if (page == ServerTab)
        ServerTab->ServerTabExit();
    else if (page == ToolTab)
        ToolTab->ToolTabExit();
    else if (page == ProvisioningTab)
        ProvisioningTab->ProvisioningTabExit();
}

void TForm1::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    visualEditor->Shutdown();
    // Leaving the window fires no page exit: the active page's settings are taken here.
    pageExit(currentPage_);
    if (workDirKnown_)
        settings_.Save(workDir_);
    settings_.Clear();
    log_.Write(QByteArray(kLogPrefix) + " Closed!");
    log_.Close();
}

void TForm1::ApplicationEvents1Exception(std::exception_ptr error) {
    const EscapedErrorReaction reaction = ClassifyEscapedException(error);
    if (!reaction.unshown.isEmpty())
        log_.Write(QByteArray(kLogPrefix) + ": an event handler failed: " + reaction.unshown);
    if (reaction.messageKey.isEmpty())
        return;
    dialogs_->messageKey(reaction.messageKey);
    if (reaction.resetHttpButton && !ctx_.httpServerActive())
        ServerTab->HttpServerControlButton->setText("Start");
}
