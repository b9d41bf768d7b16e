#include "servers/ui/ServerPage.h"

#include "accesslog/ui/AccessLogField.h"
#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "app/InterfaceTable.h"
#include "app/MyLog.h"
#include "app/Notices.h"
#include "app/Numbers.h"
#include "app/SettingsStore.h"
#include "dhcp/DhcpSettings.h"
#include "page/PageControls.h"
#include "protection/ServerProtection.h"
#include "protection/ui/ProtectionGroup.h"
#include "record/ProvisioningRecord.h"
#include "servers/BuiltinServers.h"
#include "servers/MyIPMCastClient.h"
#include "servers/PnpResponder.h"

namespace {

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* e = MakeControl<QLineEdit>(parent, name, place);
    e->setText(text);
    return e;
}

}  // namespace

ServerPage::ServerPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("ServerTab");

    HttpServerGB =
        MakeCaptioned<QGroupBox>(this, "HttpServerGB", "HTTP Server", {10, 10, 610, 215});
    HttpServerBuiltinRb = MakeCaptioned<QRadioButton>(HttpServerGB, "HttpServerBuiltinRb",
                                                      "Built-in Server", {16, 30, 160, 22});
    HttpServerBuiltinRb->setChecked(true);
    MyHttpServerPortLabel = MakeCaptioned<QLabel>(HttpServerGB, "MyHttpServerPortLabel",
                                                  "Port (1025-65525)", {190, 30, 140, 22});
    MyHttpServerPort = edit(HttpServerGB, "MyHttpServerPort", "6000", {340, 28, 90, 25});
    MyHttpServerPort->setMaxLength(5);
    InterfaceForServerLabel = MakeCaptioned<QLabel>(HttpServerGB, "InterfaceForServerLabel",
                                                    "Server IP:", {190, 64, 140, 22});
    InterfaceForServerCB =
        MakeControl<QComboBox>(HttpServerGB, "InterfaceForServerCB", {340, 62, 150, 25});
    InterfaceForServerCB->setEditable(true);
    HttpServerControlButton = MakeCaptioned<QPushButton>(HttpServerGB, "HttpServerControlButton",
                                                         "Start", {500, 28, 96, 59});
    HttpServerExRb = MakeCaptioned<QRadioButton>(HttpServerGB, "HttpServerExRb", "External Server",
                                                 {16, 120, 160, 22});
    ExHttpServerLabel = MakeCaptioned<QLabel>(HttpServerGB, "ExHttpServerLabel",
                                              "Cfg Server Path:", {190, 120, 140, 22});
    ExHttpServerEdiit = edit(HttpServerGB, "ExHttpServerEdiit", QString(), {340, 118, 256, 25});
    BuiltinProtocolCB =
        MakeControl<QComboBox>(HttpServerGB, "BuiltinProtocolCB", {36, 62, 130, 25});
    BuiltinProtocolCB->addItems({"HTTP", "TFTP"});
    AccessLogFld = new AccessLogField(ctx, HttpServerGB);
    AccessLogFld->setGeometry(190, 150, 406, 58);

    PnpServerGB = MakeCaptioned<QGroupBox>(this, "PnpServerGB", "PNP Server", {10, 235, 610, 130});
    MyPnpServerIpLabel = MakeCaptioned<QLabel>(PnpServerGB, "MyPnpServerIpLabel",
                                               "Multicast IP:", {16, 30, 110, 22});
    MyPnpServerIpEdiit = edit(PnpServerGB, "MyPnpServerIpEdiit", "224.0.1.75", {130, 28, 150, 25});
    MyPnpServerPortLabel =
        MakeCaptioned<QLabel>(PnpServerGB, "MyPnpServerPortLabel", "Port:", {292, 30, 40, 22});
    MyPnpServerPortEdit = edit(PnpServerGB, "MyPnpServerPortEdit", "5060", {340, 28, 90, 25});
    PnpModeMacRb =
        MakeCaptioned<QRadioButton>(PnpServerGB, "PnpModeMacRb", "MAC Mode", {16, 80, 150, 22});
    PnpModeMacRb->setChecked(true);
    PnpModePinRb =
        MakeCaptioned<QRadioButton>(PnpServerGB, "PnpModePinRb", "PIN Mode", {190, 80, 150, 22});
    MyPnpServerControlBtn = MakeCaptioned<QPushButton>(PnpServerGB, "MyPnpServerControlBtn",
                                                       "Start", {500, 28, 96, 59});

    TftpServerGB =
        MakeCaptioned<QGroupBox>(this, "TftpServerGB", "TFTP Server", {630, 150, 600, 100});
    MyTftpServerPortLabel = MakeCaptioned<QLabel>(TftpServerGB, "MyTftpServerPortLabel",
                                                  "Port (1-65535)", {16, 30, 150, 22});
    MyTftpServerPort = edit(TftpServerGB, "MyTftpServerPort", "69", {170, 28, 90, 25});
    MyTftpServerPort->setMaxLength(5);
    TftpServerStateLabel =
        MakeCaptioned<QLabel>(TftpServerGB, "TftpServerStateLabel", "Stop", {170, 64, 220, 22});
    PaintState(TftpServerStateLabel, false);
    TftpServerControlButton = MakeCaptioned<QPushButton>(TftpServerGB, "TftpServerControlButton",
                                                         "Start", {490, 28, 96, 59});

    ProtectionGB = new ProtectionGroup(ctx, this);
    ProtectionGB->setGeometry(630, 260, 600, 250);

    SettingsGB = MakeCaptioned<QGroupBox>(this, "SettingsGB", "Settings", {630, 10, 600, 130});
    LangOptLabel =
        MakeCaptioned<QLabel>(SettingsGB, "LangOptLabel", "Language:", {16, 30, 150, 22});
    LangOptCB = MakeControl<QComboBox>(SettingsGB, "LangOptCB", {170, 28, 220, 25});
    LangOptCB->setEditable(true);
    LangConfirmButton =
        MakeCaptioned<QPushButton>(SettingsGB, "LangConfirmButton", "Change", {400, 27, 96, 27});
    ReservedLogFileAmountLabel = MakeCaptioned<QLabel>(SettingsGB, "ReservedLogFileAmountLabel",
                                                       "Log files kept:", {16, 72, 150, 22});
    LogSettingCB = MakeControl<QComboBox>(SettingsGB, "LogSettingCB", {170, 70, 100, 25});
    LogSettingCB->setEditable(true);

    connect(HttpServerControlButton, &QPushButton::clicked, this,
            Guarded([this] { HttpServerControlButtonClick(); }));
    connect(MyPnpServerControlBtn, &QPushButton::clicked, this,
            Guarded([this] { MyPnpServerControlBtnClick(); }));
    connect(LangConfirmButton, &QPushButton::clicked, this,
            Guarded([this] { LangConfirmButtonClick(); }));
    connect(TftpServerControlButton, &QPushButton::clicked, this,
            Guarded([this] { TftpServerControlButtonClick(); }));
    connect(HttpServerExRb, &QRadioButton::toggled, this, Guarded([this] { followAccessLog(); }));
    connect(ExHttpServerEdiit, &QLineEdit::editingFinished, this,
            Guarded([this] { followAccessLog(); }));

    servers_ = std::make_unique<BuiltinServers>(ctx.workDir + "/server/htdocs", ctx.log,
                                                ctx.workDir + "/dhcp");
    servers_->SetRecord(ctx.record);
    DhcpServerGB = new DhcpGroup(ctx, servers_->Dhcp(), this);
    DhcpServerGB->setGeometry(10, 375, 610, 170);
    DhcpServerGB->serving = [this] { return dhcpServing(); };
    DhcpServerGB->stateChanged = [this](bool running) {
        setStatus(ServerKind::Dhcp,
                  ctx_.Translate(running ? "LDhcpServerRunning" : "DhcpServerStatusLabel"),
                  running);
    };
    ctx.notices->SetHandler(PnpPacketNotice, [this](int, const void* record) {
        if (record)
            Guarded([this, record] { OnPnpPacket(*static_cast<const PnpPacket*>(record)); })();
    });
}

void ServerPage::PaintState(QLabel* label, bool running) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, running ? QColor(0, 128, 0) : QColor(128, 0, 0));
    label->setPalette(palette);
}

void ServerPage::FillLogSetting(int count) {
    LogSettingCB->clear();
    LogSettingCB->addItems({"0", "3", "5", "10"});
    int selected = -1;
    for (int i = 0; i < LogSettingCB->count() && selected < 0; ++i)
        if (ReadLeadingInt(LogSettingCB->itemText(i)) == count)
            selected = i;
    if (selected < 0) {
        LogSettingCB->addItem(QString::number(count));
        selected = LogSettingCB->count() - 1;
    }
    LogSettingCB->setCurrentIndex(selected);
}

void ServerPage::ServerTabShow() {
    if (shown_)
        return;
    shown_ = true;
    fillInterfaceList();
    fillLanguageList();
    readSettings();
    ReservedLogFileAmountLabel->setToolTip(ctx_.Translate("LLogSettingHint"));
    BuiltinProtocolCB->setToolTip(ctx_.Translate("LBuiltinProtocolHint"));
    ProtectionGB->Translate();
    ProtectionGB->ShowFingerprint(tlsFolder());
    DhcpServerGB->Translate();
    AccessLogFld->Translate();
}

QString ServerPage::tlsFolder() const {
    return ctx_.workDir + "/ini/tls";
}

QStringList ServerPage::secretFiles() const {
    // The settings hold the password; the keys, made or chosen.
    QStringList files{ctx_.workDir + "/ini/setting.ini", tlsFolder() + "/server.key"};
    const QString chosenKey = ProtectionGB->Protection().keyFile;
    if (!chosenKey.isEmpty())
        files << chosenKey;
    return files;
}

void ServerPage::fillInterfaceList() {
    std::vector<InterfaceRow> rows;
    ReadInterfaceTable(&rows);
    for (const InterfaceRow& row : rows) {
        const QString text = row.AddressText();
        if (text != "127.0.0.1")
            InterfaceForServerCB->addItem(text);
    }
    if (InterfaceForServerCB->count() > 0)
        InterfaceForServerCB->setCurrentIndex(0);
}

void ServerPage::fillLanguageList() {
    LangOptCB->clear();
    LangOptCB->addItems(ctx_.localization->ListLanguages());
    const int current = LangOptCB->findText(ctx_.localization->CurrentName(),
                                            Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (current >= 0)
        LangOptCB->setCurrentIndex(current);
    else
        LangOptCB->setEditText(ctx_.localization->CurrentName());
}

void ServerPage::readSettings() {
    // One pass over each section; a key that stands twice takes its last value.
    const SettingsStore& s = *ctx_.settings;
    for (const auto& [key, value] : s.SectionEntries(Setting::HttpMode.section)) {
        if (key == Setting::HttpMode.key)
            (ReadLeadingInt(value) != 0 ? HttpServerExRb : HttpServerBuiltinRb)->setChecked(true);
        else if (key == Setting::HttpBuiltInPort.key)
            MyHttpServerPort->setText(value);
        else if (key == Setting::HttpExPath.key)
            ExHttpServerEdiit->setText(value);
    }
    for (const auto& [key, value] : s.SectionEntries(Setting::PnpMode.section)) {
        if (key == Setting::PnpMode.key)
            (ReadLeadingInt(value) != 0 ? PnpModePinRb : PnpModeMacRb)->setChecked(true);
        else if (key == Setting::PnpGroup.key)
            MyPnpServerIpEdiit->setText(value);
        else if (key == Setting::PnpPort.key)
            MyPnpServerPortEdit->setText(value);
    }
    for (const auto& [key, value] : s.SectionEntries(Setting::TftpPort.section)) {
        if (key == Setting::TftpPort.key)
            MyTftpServerPort->setText(value);
        else if (key == Setting::TftpProtocol.key)
            BuiltinProtocolCB->setCurrentIndex(ReadLeadingInt(value) != 0 ? 1 : 0);
    }
    ProtectionGB->SetProtection(ReadServerProtection(s));
    DhcpServerGB->SetSettings(ReadDhcpSettings(s));
    AccessLogFld->ReadSettings(s);
    followAccessLog();
}

void ServerPage::followAccessLog() {
    if (HttpServerExRb->isChecked())
        AccessLogFld->Follow(ExHttpServerEdiit->text().trimmed().toUtf8());
    else
        AccessLogFld->Stop();
}

void ServerPage::ServerTabExit() {
    SettingsStore& s = *ctx_.settings;
    s.Write(Setting::HttpMode, HttpServerExRb->isChecked() ? "1" : "0");
    s.Write(Setting::HttpBuiltInPort, MyHttpServerPort->text());
    s.Write(Setting::HttpExPath, ExHttpServerEdiit->text());
    s.Write(Setting::PnpMode, PnpModePinRb->isChecked() ? "1" : "0");
    s.Write(Setting::PnpGroup, MyPnpServerIpEdiit->text());
    s.Write(Setting::PnpPort, MyPnpServerPortEdit->text());
    s.AddSectionIfMissing({Setting::TftpPort, Setting::TftpProtocol});
    s.Write(Setting::TftpPort, MyTftpServerPort->text());
    s.Write(Setting::TftpProtocol, BuiltinProtocolCB->currentIndex() == 1 ? "1" : "0");
    WriteServerProtection(s, ProtectionGB->Protection());
    WriteDhcpSettings(s, DhcpServerGB->Settings());
    AccessLogFld->WriteSettings(s);
    s.Write(Setting::LogTotalCount, LogSettingCB->currentText());
}

ServerPage::~ServerPage() {
    ctx_.notices->RemoveHandler(PnpPacketNotice);
    pnpListener_.reset();
    delete DhcpServerGB;  // stops the DHCP server it started
    servers_.reset();
}

MyHttpServer& ServerPage::HttpServer() {
    return servers_->Http();
}

MyTftpServer& ServerPage::TftpServer() {
    return servers_->Tftp();
}

bool ServerPage::HttpServerActive() const {
    return servers_->Http().IsActive();
}

bool ServerPage::TftpServerActive() const {
    return servers_->Tftp().IsActive();
}

ServerProtocol ServerPage::BuiltinProtocol() const {
    return BuiltinProtocolCB->currentIndex() == 1 ? ServerProtocol::Tftp : ServerProtocol::Http;
}

bool ServerPage::BuiltinServerActive() const {
    return BuiltinProtocol() == ServerProtocol::Tftp ? TftpServerActive() : HttpServerActive();
}

UrlAccess ServerPage::HttpUrlAccess() const {
    return HttpServerActive() ? runningUrl_ : ProtectionGB->Protection().Url();
}

bool ServerPage::PnpServerRunning() const {
    return pnpListener_ && pnpListener_->IsRunning();
}

ServerChoice ServerPage::Choice() const {
    ServerChoice c;
    c.builtIn = HttpServerBuiltinRb->isChecked();
    c.protocol = BuiltinProtocol();
    c.address = InterfaceForServerCB->currentText();
    c.firstAddress = InterfaceForServerCB->count() > 0 ? InterfaceForServerCB->itemText(0) : "";
    c.portText = (c.protocol == ServerProtocol::Tftp ? MyTftpServerPort : MyHttpServerPort)->text();
    c.externalUrl = ExHttpServerEdiit->text();
    c.running = BuiltinServerActive();
    c.access = HttpUrlAccess();
    return c;
}

DhcpServing ServerPage::dhcpServing() const {
    const ServerChoice choice = Choice();
    DhcpServing serving;
    serving.bindAddress = choice.address.trimmed();
    serving.url = choice.Url();
    serving.tftpServer = TftpServerActive();
    if (choice.builtIn && !choice.running)
        serving.refusal = UiText::key("LDhcpError11");
    return serving;
}

void ServerPage::setStatus(ServerKind server, const QString& text, bool running) {
    ctx_.showServerState(server, text, running);
}

void ServerPage::ShowServerStates() {
    const bool http = HttpServerActive();
    HttpServerControlButton->setText(
        ctx_.Translate(http ? "LHttpServerBtnStop" : "HttpServerControlButton"));
    const char* httpState = !http               ? "HttpServerStatusLabel"
                            : runningUrl_.https ? "LHttpsServerRunning"
                                                : "LHttpServerRunning";
    setStatus(ServerKind::Http, ctx_.Translate(httpState), http);
    const bool pnp = PnpServerRunning();
    MyPnpServerControlBtn->setText(
        ctx_.Translate(pnp ? "LPnpServerBtnStop" : "MyPnpServerControlBtn"));
    setStatus(ServerKind::Pnp, ctx_.Translate(pnp ? "LPnpServerRunning" : "PnpServerStatusLabel"),
              pnp);
    const bool tftp = TftpServerActive();
    TftpServerControlButton->setText(
        ctx_.Translate(tftp ? "LTftpServerBtnStop" : "TftpServerControlButton"));
    if (tftp) {
        setTftpStatus(true);
    } else {
        // Stopped: each label its own caption.
        setStatus(ServerKind::Tftp, ctx_.Translate("TftpServerStatusLabel"), false);
        TftpServerStateLabel->setText(ctx_.Translate("TftpServerStateLabel"));
        PaintState(TftpServerStateLabel, false);
    }
    const bool dhcp = DhcpServerGB->IsRunning();
    setStatus(ServerKind::Dhcp,
              ctx_.Translate(dhcp ? "LDhcpServerRunning" : "DhcpServerStatusLabel"), dhcp);
    DhcpServerGB->DhcpServerControlButton->setText(
        ctx_.Translate(dhcp ? "LDhcpServerBtnStop" : "DhcpServerControlButton"));
    DhcpServerGB->Translate();
    AccessLogFld->Translate();
}

void ServerPage::LangConfirmButtonClick() {
    if (!ctx_.localization->ChangeLanguage(LangOptCB->currentText(), ctx_.settings))
        return;
    ReservedLogFileAmountLabel->setToolTip(ctx_.Translate("LLogSettingHint"));
    BuiltinProtocolCB->setToolTip(ctx_.Translate("LBuiltinProtocolHint"));
    ProtectionGB->Translate();
    ProtectionGB->ShowFingerprint(tlsFolder());
}
