#include "dhcp/ui/DhcpGroup.h"

#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "app/InterfaceTable.h"
#include "app/MyLog.h"
#include "dhcp/DhcpServer.h"
#include "page/PageControls.h"

#include <QPointer>
#include <cstring>

namespace {

// Green while the server runs, maroon otherwise, as the other servers' states.
void paintState(QLabel* label, bool running) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, running ? QColor(0, 128, 0) : QColor(128, 0, 0));
    label->setPalette(palette);
}

}  // namespace

DhcpGroup::DhcpGroup(const AppContext& ctx, DhcpServer& server, QWidget* parent)
    : QGroupBox("DHCP Server", parent), ctx_(ctx), server_(server) {
    setObjectName("DhcpServerGB");
    DhcpRangeLabel = MakeCaptioned<QLabel>(this, "DhcpRangeLabel", "Range:", {16, 30, 150, 22});
    DhcpRangeEdit = MakeControl<QLineEdit>(this, "DhcpRangeEdit", {170, 28, 300, 25});
    DhcpRangeEdit->setPlaceholderText("192.168.1.100-192.168.1.199");
    DhcpLeaseLabel =
        MakeCaptioned<QLabel>(this, "DhcpLeaseLabel", "Lease (seconds):", {16, 64, 150, 22});
    DhcpLeaseEdit = MakeControl<QLineEdit>(this, "DhcpLeaseEdit", {170, 62, 90, 25});
    DhcpLeaseEdit->setText("3600");
    DhcpLeaseEdit->setMaxLength(8);
    DhcpRouterLabel = MakeCaptioned<QLabel>(this, "DhcpRouterLabel", "Router:", {16, 98, 150, 22});
    DhcpRouterEdit = MakeControl<QLineEdit>(this, "DhcpRouterEdit", {170, 96, 140, 25});
    DhcpDnsLabel = MakeCaptioned<QLabel>(this, "DhcpDnsLabel", "DNS:", {322, 98, 50, 22});
    DhcpDnsEdit = MakeControl<QLineEdit>(this, "DhcpDnsEdit", {376, 96, 210, 25});
    DhcpIgnoreOtherChkB = MakeCaptioned<QCheckBox>(
        this, "DhcpIgnoreOtherChkB", "Serve beside another DHCP server", {16, 132, 330, 22});
    DhcpServerStateLabel =
        MakeCaptioned<QLabel>(this, "DhcpServerStateLabel", "Stop", {356, 132, 230, 22});
    paintState(DhcpServerStateLabel, false);
    DhcpServerControlButton =
        MakeCaptioned<QPushButton>(this, "DhcpServerControlButton", "Start", {500, 28, 96, 59});

    connect(DhcpServerControlButton, &QPushButton::clicked, this,
            Guarded([this] { ControlButtonClick(); }));
    // The server's end reaches the main thread through the event loop.
    QPointer<DhcpGroup> self(this);
    server_.SetEndObserver([self](const QByteArray& reason) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, reason] {
                if (self)
                    self->ended(reason);
            },
            Qt::QueuedConnection);
    });
}

DhcpGroup::~DhcpGroup() {
    if (prober_.joinable())
        prober_.join();
    server_.SetEndObserver({});
    server_.Stop();
}

DhcpSettings DhcpGroup::Settings() const {
    DhcpSettings s;
    s.range = DhcpRangeEdit->text();
    s.leaseSeconds = DhcpLeaseEdit->text();
    s.router = DhcpRouterEdit->text();
    s.dns = DhcpDnsEdit->text();
    s.ignoreOther = DhcpIgnoreOtherChkB->isChecked();
    return s;
}

void DhcpGroup::SetSettings(const DhcpSettings& s) {
    DhcpRangeEdit->setText(s.range);
    DhcpLeaseEdit->setText(s.leaseSeconds);
    DhcpRouterEdit->setText(s.router);
    DhcpDnsEdit->setText(s.dns);
    DhcpIgnoreOtherChkB->setChecked(s.ignoreOther);
}

bool DhcpGroup::IsRunning() const {
    return server_.IsRunning();
}

void DhcpGroup::Translate() {
    DhcpRangeEdit->setToolTip(ctx_.Translate("LDhcpRangeHint"));
    DhcpIgnoreOtherChkB->setToolTip(ctx_.Translate("LDhcpIgnoreOtherHint"));
    if (!probing_)
        showState(ctx_.Translate(IsRunning() ? "LDhcpServerRunning" : "DhcpServerStateLabel"),
                  IsRunning());
}

void DhcpGroup::showState(const QString& text, bool running) {
    DhcpServerStateLabel->setText(text);
    paintState(DhcpServerStateLabel, running);
}

void DhcpGroup::setEditable(bool editable) {
    for (QWidget* w : std::initializer_list<QWidget*>{DhcpRangeEdit, DhcpLeaseEdit, DhcpRouterEdit,
                                                      DhcpDnsEdit, DhcpIgnoreOtherChkB})
        w->setEnabled(editable);
}

void DhcpGroup::ControlButtonClick() {
    if (probing_)
        return;
    if (IsRunning()) {
        server_.Stop();
        setEditable(true);
        DhcpServerControlButton->setText(ctx_.Translate("DhcpServerControlButton"));
        showState(ctx_.Translate("DhcpServerStateLabel"), false);
        if (stateChanged)
            stateChanged(false);
        return;
    }
    DhcpServing where;
    if (serving)
        where = serving();
    else
        where.refusal = UiText::key("LDhcpError11");
    std::vector<InterfaceRow> interfaces;
    ReadInterfaceTable(&interfaces);
    const DhcpCheck check = CheckDhcpSettings(Settings(), where.bindAddress, interfaces);
    UiText refusal = where.refusal;
    if (refusal.isEmpty())
        refusal = check.error;
    if (refusal.isEmpty())
        refusal = CheckDhcpHandout({where.url, where.tftpServer});
    if (refusal.isEmpty())
        refusal = server_.CheckCanStart();
    if (!refusal.isEmpty()) {
        ctx_.dialogs->message(refusal);
        return;
    }
    plan_ = check.plan;
    handout_ = {where.url, where.tftpServer};

    probing_ = true;
    setEditable(false);
    DhcpServerControlButton->setEnabled(false);
    showState(ctx_.Translate("LDhcpServerProbing"), false);
    DhcpProbeOptions options = probe;
    options.interfaceName = plan_.interfaceName;
    QPointer<DhcpGroup> self(this);
    prober_ = std::thread([self, options] {
        const DhcpProbeResult result = ProbeDhcpServers(options);
        QMetaObject::invokeMethod(
            self.data(),
            [self, result] {
                if (self)
                    self->probed(result);
            },
            Qt::QueuedConnection);
    });
}

void DhcpGroup::probed(const DhcpProbeResult& result) {
    if (prober_.joinable())
        prober_.join();
    probing_ = false;
    DhcpServerControlButton->setEnabled(true);
    auto giveUp = [this] {
        setEditable(true);
        showState(ctx_.Translate("DhcpServerStateLabel"), false);
    };
    const bool ignore = DhcpIgnoreOtherChkB->isChecked();
    if (result.error != 0 && !ignore) {
        if (ctx_.log)
            ctx_.log->Write("DHCP Server not started: the probe for other DHCP servers failed: " +
                            QByteArray(std::strerror(result.error)));
        giveUp();
        ctx_.dialogs->message(
            UiText::key("LDhcpError13")
                .addLiteral(" " + QString::fromLocal8Bit(std::strerror(result.error))));
        return;
    }
    if (!result.servers.empty()) {
        QStringList others;
        for (const uint32_t a : result.servers)
            others << Ipv4Text(a);
        if (ctx_.log)
            ctx_.log->Write("DHCP Server: another DHCP server answers on " +
                            plan_.interfaceName.toLocal8Bit() + ": " +
                            others.join(", ").toLatin1());
        if (!ignore &&
            !ctx_.dialogs->question(UiText::key("LDhcpError10").addLiteral(" " + others.join(", ")),
                                    UiText::key("LContinueQ"), Dialogs::Buttons::YesNo)) {
            giveUp();
            return;
        }
    }
    startServer();
}

void DhcpGroup::startServer() {
    const UiText error = server_.Start(plan_, handout_);
    if (!error.isEmpty()) {
        setEditable(true);
        showState(ctx_.Translate("DhcpServerStateLabel"), false);
        ctx_.dialogs->message(error);
        return;
    }
    DhcpServerControlButton->setText(ctx_.Translate("LDhcpServerBtnStop"));
    showState(ctx_.Translate("LDhcpServerRunning"), true);
    if (stateChanged)
        stateChanged(true);
}

void DhcpGroup::ended(const QByteArray& reason) {
    server_.Stop();  // reaps what is left; the server has written its log line
    setEditable(true);
    DhcpServerControlButton->setText(ctx_.Translate("DhcpServerControlButton"));
    showState(ctx_.Translate("LDhcpServerEnded") + " " + QString::fromLocal8Bit(reason), false);
    if (stateChanged)
        stateChanged(false);
}
