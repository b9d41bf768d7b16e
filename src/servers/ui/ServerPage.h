#pragma once

#include "dhcp/ui/DhcpGroup.h"
#include "discovery/DeviceCommand.h"
#include "page/AppContext.h"
#include "servers/PortCheck.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <functional>
#include <memory>

class AccessLogField;
class BuiltinServers;
class DhcpGroup;
class MyHttpServer;
class MyIPMCastClient;
class MyTftpServer;
class PnpResponder;
class ProtectionGroup;
struct PnpPacket;

// The servers page: the built-in HTTP server, the plug-and-play server, the built-in TFTP
// server, the bench DHCP server, the protection of the built-in servers, and the settings group
// with the language and the number of log files kept.
class ServerPage : public QWidget {
    Q_OBJECT
  public:
    ServerPage(const AppContext& ctx, QWidget* parent);
    // Stops the servers that still run.
    ~ServerPage() override;

    QGroupBox* HttpServerGB;
    QRadioButton* HttpServerBuiltinRb;
    QLabel* MyHttpServerPortLabel;
    QLineEdit* MyHttpServerPort;
    QLabel* InterfaceForServerLabel;
    QComboBox* InterfaceForServerCB;
    QPushButton* HttpServerControlButton;
    QRadioButton* HttpServerExRb;
    QLabel* ExHttpServerLabel;
    QLineEdit* ExHttpServerEdiit;
    // "HTTP" or "TFTP": the built-in server whose URL plug-and-play and Provision hand out.
    QComboBox* BuiltinProtocolCB;

    QGroupBox* PnpServerGB;
    QLabel* MyPnpServerIpLabel;
    QLineEdit* MyPnpServerIpEdiit;
    QLabel* MyPnpServerPortLabel;
    QLineEdit* MyPnpServerPortEdit;
    QRadioButton* PnpModeMacRb;
    QRadioButton* PnpModePinRb;
    QPushButton* MyPnpServerControlBtn;

    QGroupBox* TftpServerGB;
    QLabel* MyTftpServerPortLabel;
    QLineEdit* MyTftpServerPort;
    QPushButton* TftpServerControlButton;
    QLabel* TftpServerStateLabel;

    // The external server's access log, followed into the record.
    AccessLogField* AccessLogFld;
    // HTTPS, the address allow-list and the credentials.
    ProtectionGroup* ProtectionGB;
    // The bench DHCP server, handing out the URL of the server chosen here.
    DhcpGroup* DhcpServerGB;

    QGroupBox* SettingsGB;
    QLabel* LangOptLabel;
    QComboBox* LangOptCB;
    QPushButton* LangConfirmButton;
    QLabel* ReservedLogFileAmountLabel;
    QComboBox* LogSettingCB;

    // The items "0", "3", "5", "10" and the one equal to count selected (appended when none is).
    void FillLogSetting(int count);

    // Page shown; the first time it fills the interface and language lists and reads
    // [HTTP SERVER], [PNP SERVER], [TFTP SERVER] and [DHCP SERVER].
    void ServerTabShow();
    // Page left: [HTTP SERVER], [PNP SERVER], [TFTP SERVER], [DHCP SERVER] and [LOG SETTING]
    // into the settings.
    void ServerTabExit();

    void HttpServerControlButtonClick();
    // Starts or stops the built-in TFTP server on its port; a refused start shows why.
    void TftpServerControlButtonClick();
    void MyPnpServerControlBtnClick();
    void LangConfirmButtonClick();
    // The buttons and states of the servers as they are (running or stopped), in the language
    // in force: after a language's captions were applied, which know no state.
    void ShowServerStates();
    // The answer to one datagram of the plug-and-play group.
    void OnPnpPacket(const PnpPacket& packet);

    bool HttpServerActive() const;
    bool TftpServerActive() const;
    bool PnpServerRunning() const;
    MyHttpServer& HttpServer();
    MyTftpServer& TftpServer();
    // The protocol chosen in BuiltinProtocolCB.
    ServerProtocol BuiltinProtocol() const;
    // Whether the built-in server of that protocol runs.
    bool BuiltinServerActive() const;
    // How URLs reach the built-in HTTP server: HTTPS and the credentials it runs with (those
    // set in the protection group while it is stopped).
    UrlAccess HttpUrlAccess() const;
    // The server phones are told, as the page has it chosen (what other pages ask).
    ServerChoice Choice() const;

    // How long the server buttons wait after starting or stopping (2000 ms; tests shorten it),
    // and between the looks at a starting plug-and-play listener (1000 ms).
    int serverWaitMs = 2000;
    int pnpLookMs = 1000;
    // The address the built-in HTTP and TFTP servers listen on: empty, every local address
    // (tests keep them on 127.0.0.1).
    QString serverBindAddress;

    // A server's state in green while it runs, in maroon while it is stopped.
    static void PaintState(QLabel* label, bool running);

  private:
    // Where the DHCP server serves and what it hands out: the chosen server's URL, which the
    // built-in server of that protocol must be running to serve.
    DhcpServing dhcpServing() const;
    // Follows the access log while "External Server" is chosen, stops following otherwise.
    void followAccessLog();
    void fillInterfaceList();
    void fillLanguageList();
    void readSettings();
    // A server's state in the window's top bar.
    void setStatus(ServerKind server, const QString& text, bool running);
    void setTftpStatus(bool running);
    // Waits, painting the window but taking no user input; the second ends early once over().
    void wait(int ms);
    void waitUnless(int ms, const std::function<bool()>& over);
    // The controls given back after the plug-and-play listener stopped or failed to start.
    void enableAfterPnp();
    // The start of the HTTP server with its protection; a refused one shows why.
    void startHttpServer(const PortCheck& check);
    // The controls given back after the HTTP server stopped or failed to start with TLS.
    void enableAfterHttp();
    // Where the self-signed certificate and key are kept.
    QString tlsFolder() const;
    // Files the built-in servers never serve: the settings (they hold the password) and the keys.
    QStringList secretFiles() const;

    const AppContext& ctx_;
    bool shown_ = false;
    std::unique_ptr<BuiltinServers> servers_;
    std::unique_ptr<MyIPMCastClient> pnpListener_;
    std::unique_ptr<PnpResponder> pnpResponder_;
    UrlAccess runningUrl_;  // HttpUrlAccess while the HTTP server runs
};
