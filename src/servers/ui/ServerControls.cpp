// The Servers page's Start and Stop buttons: the built-in HTTP and TFTP servers and the
// plug-and-play listener, and the answers to the plug-and-play group.
#include "servers/ui/ServerPage.h"

#include "app/Dialogs.h"
#include "app/MyLog.h"
#include "app/SocketError.h"
#include "protection/ServerProtection.h"
#include "protection/TlsServerContext.h"
#include "protection/ui/ProtectionGroup.h"
#include "servers/BuiltinServers.h"
#include "servers/MyIPMCastClient.h"
#include "servers/PnpResponder.h"
#include "servers/PortCheck.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>

void ServerPage::setTftpStatus(bool running) {
    const QString text = ctx_.Translate(running ? "LTftpServerRunning" : "TftpServerStatusLabel");
    setStatus(ServerKind::Tftp, text, running);
    TftpServerStateLabel->setText(text);
    PaintState(TftpServerStateLabel, running);
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
