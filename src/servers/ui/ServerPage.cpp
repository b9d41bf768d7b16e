#include "servers/ui/ServerPage.h"

#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "app/InterfaceTable.h"
#include "app/MyLog.h"
#include "app/Notices.h"
#include "app/Numbers.h"
#include "app/SettingsStore.h"
#include "app/SocketError.h"
#include "dhcp/DhcpSettings.h"
#include "page/PageControls.h"
#include "protection/ServerProtection.h"
#include "protection/TlsServerContext.h"
#include "protection/ui/ProtectionGroup.h"
#include "record/ProvisioningRecord.h"
#include "servers/BuiltinServers.h"
#include "servers/MyIPMCastClient.h"
#include "servers/PnpResponder.h"
#include "servers/PortCheck.h"

#include <QElapsedTimer>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>

namespace {

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* e = MakeControl<QLineEdit>(parent, name, place);
    e->setText(text);
    return e;
}

// A server's state in green while it runs, in maroon while it is stopped.
void showState(QLabel* label, bool running) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, running ? QColor(0, 128, 0) : QColor(128, 0, 0));
    label->setPalette(palette);
}

}  // namespace

ServerPage::ServerPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("ServerTab");

    HttpServerGB =
        MakeCaptioned<QGroupBox>(this, "HttpServerGB", "HTTP Server", {10, 10, 610, 170});
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

    PnpServerGB = MakeCaptioned<QGroupBox>(this, "PnpServerGB", "PNP Server", {10, 190, 610, 130});
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
    showState(TftpServerStateLabel, false);
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

    servers_ = std::make_unique<BuiltinServers>(ctx.workDir + "/server/htdocs", ctx.log,
                                                ctx.workDir + "/dhcp");
    servers_->SetRecord(ctx.record);
    DhcpServerGB = new DhcpGroup(ctx, servers_->Dhcp(), this);
    DhcpServerGB->setGeometry(10, 330, 610, 170);
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

void ServerPage::setTftpStatus(bool running) {
    const QString text = ctx_.Translate(running ? "LTftpServerRunning" : "TftpServerStatusLabel");
    setStatus(ServerKind::Tftp, text, running);
    TftpServerStateLabel->setText(text);
    showState(TftpServerStateLabel, running);
}

void ServerPage::TftpServerControlButtonClick() {
    if (TftpServerActive()) {
        servers_->StopTftp();
        TftpServerControlButton->setText(ctx_.Translate("TftpServerControlButton"));
        MyTftpServerPort->setEnabled(true);
        ProtectionGB->SetServersRunning(HttpServerActive(), false);
        setTftpStatus(false);
        return;
    }
    const PortCheck check = CheckTftpServerPort(MyTftpServerPort->text());
    if (!check.ok()) {
        ctx_.dialogs->messageKey(check.errorKey);
        return;
    }
    // The allow-list applies to TFTP as well.
    const PreparedProtection access = PrepareAccess(ProtectionGB->Protection());
    if (!access.error.isEmpty()) {
        ctx_.dialogs->message(access.error);
        return;
    }
    servers_->SetWithheldFiles(secretFiles());
    try {
        servers_->StartTftp(static_cast<quint16>(check.port), serverBindAddress, access);
    } catch (const SocketError& e) {
        // Ports up to 1024 need a privilege; a port in use has its own message.
        ctx_.dialogs->messageKey(e.kind() == SocketError::Kind::AccessDenied ? "LTftpError1"
                                                                             : "LTftpError2");
        return;
    }
    MyTftpServerPort->setEnabled(false);
    ProtectionGB->SetServersRunning(HttpServerActive(), true);
    TftpServerControlButton->setText(ctx_.Translate("LTftpServerBtnStop"));
    setTftpStatus(true);
}

void ServerPage::wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ServerPage::waitUnless(int ms, const std::function<bool()>& over) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (clock.elapsed() >= ms || over())
            loop.quit();
    });
    poll.start(std::min(ms, 10));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ServerPage::HttpServerControlButtonClick() {
    HttpServerBuiltinRb->setChecked(true);
    const PortCheck check = CheckHttpServerPort(MyHttpServerPort->text());
    if (!check.ok()) {
        ctx_.dialogs->messageKey(check.errorKey);
        return;
    }
    if (!HttpServerActive()) {
        startHttpServer(check);
        return;
    }
    HttpServerControlButton->setText(ctx_.Translate("LHttpServerBtnStopping"));
    servers_->StopHttp();
    wait(serverWaitMs);
    HttpServerControlButton->setText(ctx_.Translate("HttpServerControlButton"));
    enableAfterHttp();
    ProtectionGB->SetServersRunning(false, TftpServerActive());
    setStatus(ServerKind::Http, ctx_.Translate("HttpServerStatusLabel"), false);
}

void ServerPage::startHttpServer(const PortCheck& check) {
    QStringList addresses;
    for (int i = 0; i < InterfaceForServerCB->count(); ++i)
        addresses << InterfaceForServerCB->itemText(i);
    const ServerProtection protection = ProtectionGB->Protection();
    const PreparedProtection prepared = PrepareProtection(
        protection, tlsFolder(), InterfaceForServerCB->currentText().trimmed(), addresses);
    if (!prepared.error.isEmpty()) {
        ctx_.dialogs->message(prepared.error);
        return;
    }
    servers_->SetWithheldFiles(secretFiles());
    HttpServerControlButton->setText(ctx_.Translate("LHttpServerBtnStarting"));
    for (QWidget* w : std::initializer_list<QWidget*>{InterfaceForServerCB, MyHttpServerPort,
                                                      HttpServerBuiltinRb, HttpServerExRb})
        w->setEnabled(false);
    try {
        // A port that cannot be bound throws SocketError to the application's handler.
        servers_->StartHttp(static_cast<quint16>(check.port), serverBindAddress, prepared);
    } catch (const TlsSetupError& e) {
        HttpServerControlButton->setText(ctx_.Translate("HttpServerControlButton"));
        enableAfterHttp();
        ctx_.dialogs->message(
            UiText::key("LHttpsError2").addLiteral(QString::fromLocal8Bit(e.what())));
        return;
    }
    runningUrl_ = protection.Url();
    ProtectionGB->SetServersRunning(true, TftpServerActive());
    ProtectionGB->ShowFingerprint(tlsFolder());
    wait(serverWaitMs);
    HttpServerControlButton->setText(ctx_.Translate("LHttpServerBtnStop"));
    setStatus(ServerKind::Http,
              ctx_.Translate(prepared.https ? "LHttpsServerRunning" : "LHttpServerRunning"), true);
}

void ServerPage::enableAfterHttp() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{MyHttpServerPort, HttpServerBuiltinRb, HttpServerExRb})
        w->setEnabled(true);
    if (MyPnpServerIpEdiit->isEnabled())
        InterfaceForServerCB->setEnabled(true);
}

void ServerPage::enableAfterPnp() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             MyPnpServerIpEdiit, MyPnpServerPortEdit, PnpModeMacRb, PnpModePinRb,
             HttpServerControlButton, BuiltinProtocolCB, TftpServerControlButton})
        w->setEnabled(true);
    if (HttpServerExRb->isChecked()) {
        HttpServerExRb->setEnabled(true);
        HttpServerBuiltinRb->setEnabled(true);
    }
}

void ServerPage::MyPnpServerControlBtnClick() {
    const PortCheck check = CheckPnpServerPort(MyPnpServerPortEdit->text());
    const QString listenInterface =
        InterfaceForServerCB->count() > 0 ? InterfaceForServerCB->itemText(0) : QString();
    QString refusal = check.errorKey;
    if (refusal.isEmpty() && listenInterface.isEmpty())
        refusal = "LPnpError1";
    else if (refusal.isEmpty() && HttpServerBuiltinRb->isChecked() && !BuiltinServerActive())
        refusal = BuiltinProtocol() == ServerProtocol::Tftp ? "LPnpError6" : "LPnpError1";
    else if (refusal.isEmpty() && HttpServerExRb->isChecked() &&
             ExHttpServerEdiit->text().isEmpty())
        refusal = "LPnpError3";
    if (!refusal.isEmpty()) {
        ctx_.dialogs->messageKey(refusal);
        return;
    }

    if (pnpListener_ && pnpListener_->IsRunning()) {
        MyPnpServerControlBtn->setText(ctx_.Translate("LPnpServerBtnStopping"));
        pnpListener_->Stop();
        if (!HttpServerActive())
            InterfaceForServerCB->setEnabled(true);
        pnpListener_->Terminate();
        wait(serverWaitMs);
        pnpListener_.reset();
        MyPnpServerControlBtn->setText(ctx_.Translate("MyPnpServerControlBtn"));
        enableAfterPnp();
        setStatus(ServerKind::Pnp, ctx_.Translate("PnpServerStatusLabel"), false);
        ctx_.log->Write("PNP Server Stopped!");
        return;
    }

    pnpListener_.reset();  // one that exists but does not run
    const QString group = MyPnpServerIpEdiit->text().trimmed();
    pnpListener_ = std::make_unique<MyIPMCastClient>(check.port, group.toLatin1(),
                                                     listenInterface.toLatin1(), ctx_.notices);
    pnpListener_->SetLog(ctx_.log);
    pnpListener_->Start();
    MyPnpServerControlBtn->setText(ctx_.Translate("LPnpServerBtnStarting"));
    for (QWidget* w : std::initializer_list<QWidget*>{
             InterfaceForServerCB, MyPnpServerIpEdiit, MyPnpServerPortEdit, PnpModeMacRb,
             PnpModePinRb, HttpServerBuiltinRb, HttpServerExRb, HttpServerControlButton,
             BuiltinProtocolCB})
        w->setEnabled(false);
    // The TFTP server stays while plug-and-play hands out its URL.
    if (BuiltinProtocol() == ServerProtocol::Tftp)
        TftpServerControlButton->setEnabled(false);
    // Up to ten looks a second apart, the first after a second; a listener whose set-up failed
    // ends the wait at once.
    for (int look = 0; look < 10 && !pnpListener_->HasEnded(); ++look) {
        waitUnless(pnpLookMs, [this] { return pnpListener_->HasEnded(); });
        if (pnpListener_->IsRunning())
            break;
    }
    if (!pnpListener_->IsRunning()) {
        pnpListener_->Stop();
        ctx_.dialogs->messageKey(pnpListener_->LastError() == EACCES ? "LPnpError4" : "LPnpError5");
        pnpListener_->Terminate();
        pnpListener_.reset();
        MyPnpServerControlBtn->setText(ctx_.Translate("MyPnpServerControlBtn"));
        InterfaceForServerCB->setEnabled(true);
        enableAfterPnp();
        return;
    }
    MyPnpServerControlBtn->setText(ctx_.Translate("LPnpServerBtnStop"));
    setStatus(ServerKind::Pnp, ctx_.Translate("LPnpServerRunning"), true);
    ctx_.log->Write("PNP Server started! Listen to: " + group + " Port: " + check.text);
    if (const QByteArray note = pnpListener_->ReceiveBufferNote(); !note.isEmpty())
        ctx_.log->Write(note);
}

void ServerPage::OnPnpPacket(const PnpPacket& packet) {
    if (!pnpResponder_) {
        pnpResponder_ = std::make_unique<PnpResponder>();
        pnpResponder_->SetRecord(ctx_.record);
    }
    PnpAnswerOptions o;
    o.macMode = PnpModeMacRb->isChecked();
    o.pinMode = PnpModePinRb->isChecked();
    const ServerChoice choice = Choice();
    o.builtInServer = choice.builtIn;
    o.protocol = choice.protocol;
    o.interfaceText = choice.address.toLatin1();
    o.portText = choice.portText.toLatin1();
    o.externalUrl = choice.externalUrl.toUtf8();
    o.access = choice.access;
    const QByteArray line = pnpResponder_->Answer(packet.text, o);
    if (!line.isEmpty())
        ctx_.log->Write(line);
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
        showState(TftpServerStateLabel, false);
    }
    const bool dhcp = DhcpServerGB->IsRunning();
    setStatus(ServerKind::Dhcp,
              ctx_.Translate(dhcp ? "LDhcpServerRunning" : "DhcpServerStatusLabel"), dhcp);
    DhcpServerGB->DhcpServerControlButton->setText(
        ctx_.Translate(dhcp ? "LDhcpServerBtnStop" : "DhcpServerControlButton"));
    DhcpServerGB->Translate();
}

void ServerPage::LangConfirmButtonClick() {
    if (!ctx_.localization->ChangeLanguage(LangOptCB->currentText(), ctx_.settings))
        return;
    ReservedLogFileAmountLabel->setToolTip(ctx_.Translate("LLogSettingHint"));
    BuiltinProtocolCB->setToolTip(ctx_.Translate("LBuiltinProtocolHint"));
    ProtectionGB->Translate();
    ProtectionGB->ShowFingerprint(tlsFolder());
}
