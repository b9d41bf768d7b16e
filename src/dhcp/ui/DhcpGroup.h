#pragma once

#include "dhcp/DhcpLease.h"
#include "dhcp/DhcpProbe.h"
#include "dhcp/DhcpSettings.h"
#include "page/AppContext.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>
#include <thread>

class DhcpServer;

// Where the DHCP server serves and what it hands out, as the servers page tells at each start.
struct DhcpServing {
    QString bindAddress;      // the server interface's address
    QByteArray url;           // the provisioning URL, as plug-and-play hands it out
    bool tftpServer = false;  // the TFTP server runs: option 150 names the server
    // Why nothing can be handed out now (no built-in server running, say); empty: it can.
    UiText refusal;
};

// The group "DHCP Server" of the servers page: the range, lease time, router and DNS servers
// handed out, whether to serve beside another DHCP server, Start/Stop and the state. A start
// checks the settings, probes the link for other DHCP servers (on a worker thread; the window
// stays live) and asks whether to go on when one answers, then starts the server.
class DhcpGroup : public QGroupBox {
    Q_OBJECT
  public:
    // server: the DHCP server it starts and stops (the built-in servers'), which outlives it.
    DhcpGroup(const AppContext& ctx, DhcpServer& server, QWidget* parent);
    ~DhcpGroup() override;  // waits for a probe under way, stops the server

    QLabel* DhcpRangeLabel;
    QLineEdit* DhcpRangeEdit;
    QLabel* DhcpLeaseLabel;
    QLineEdit* DhcpLeaseEdit;
    QLabel* DhcpRouterLabel;
    QLineEdit* DhcpRouterEdit;
    QLabel* DhcpDnsLabel;
    QLineEdit* DhcpDnsEdit;
    QCheckBox* DhcpIgnoreOtherChkB;
    QPushButton* DhcpServerControlButton;
    QLabel* DhcpServerStateLabel;

    DhcpSettings Settings() const;
    void SetSettings(const DhcpSettings& settings);

    // Asked at each start; unset, there is nothing to hand out.
    std::function<DhcpServing()> serving;
    // Told on the main thread when the server starts (true) or ends (false), also when it ends
    // by itself.
    std::function<void(bool running)> stateChanged;
    // The probe's ports, destination and wait (tests change them); its interface is the plan's.
    DhcpProbeOptions probe;

    // Start: checks, the probe, then the server (the probe's end comes later, through the event
    // loop). Stop: at once.
    void ControlButtonClick();
    bool IsRunning() const;
    bool IsProbing() const { return probing_; }
    DhcpServer& Server() { return server_; }
    // The state's texts, in the language in force.
    void Translate();

  private:
    void probed(const DhcpProbeResult& result);
    void startServer();
    void showState(const QString& text, bool running);
    void setEditable(bool editable);
    void ended(const QByteArray& reason);

    const AppContext& ctx_;
    DhcpServer& server_;
    DhcpPlan plan_;
    DhcpHandout handout_;
    std::thread prober_;
    bool probing_ = false;
};
