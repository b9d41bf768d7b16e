#pragma once

#include "app/AppContext.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <functional>
#include <memory>

class MyHttpServer;
class MyIPMCastClient;
class PnpResponder;
struct PnpPacket;

// The servers page: the built-in HTTP server, the plug-and-play server, and the settings group
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

    QGroupBox* PnpServerGB;
    QLabel* MyPnpServerIpLabel;
    QLineEdit* MyPnpServerIpEdiit;
    QLabel* MyPnpServerPortLabel;
    QLineEdit* MyPnpServerPortEdit;
    QRadioButton* PnpModeMacRb;
    QRadioButton* PnpModePinRb;
    QPushButton* MyPnpServerControlBtn;

    QGroupBox* SettingsGB;
    QLabel* LangOptLabel;
    QComboBox* LangOptCB;
    QPushButton* LangConfirmButton;
    QLabel* ReservedLogFileAmountLabel;
    QComboBox* LogSettingCB;

    // The items "0", "3", "5", "10" and the one equal to count selected (appended when none is).
    void FillLogSetting(int count);

    // Page shown; the first time it fills the interface and language lists and reads
    // [HTTP SERVER] and [PNP SERVER].
    void ServerTabShow();
    // Page left: [HTTP SERVER], [PNP SERVER] and [LOG SETTING] into the settings.
    void ServerTabExit();

    void HttpServerControlButtonClick();
    void MyPnpServerControlBtnClick();
    void LangConfirmButtonClick();
    // The answer to one datagram of the plug-and-play group.
    void OnPnpPacket(const PnpPacket& packet);

    bool HttpServerActive() const;
    bool PnpServerRunning() const;
    MyHttpServer& HttpServer() { return *httpServer_; }

    // How long the server buttons wait after starting or stopping (2000 ms; tests shorten it),
    // and between the looks at a starting plug-and-play listener (1000 ms).
    int serverWaitMs = 2000;
    int pnpLookMs = 1000;

  private:
    void fillInterfaceList();
    void fillLanguageList();
    void readSettings();
    // The status labels of the window's top bar.
    void setStatus(const char* labelName, const QString& text, bool running);
    // Waits, painting the window but taking no user input; the second ends early once over().
    void wait(int ms);
    void waitUnless(int ms, const std::function<bool()>& over);
    // The controls given back after the plug-and-play listener stopped or failed to start.
    void enableAfterPnp();

    const AppContext& ctx_;
    bool shown_ = false;
    std::unique_ptr<MyHttpServer> httpServer_;
    std::unique_ptr<MyIPMCastClient> pnpListener_;
    std::unique_ptr<PnpResponder> pnpResponder_;
};
