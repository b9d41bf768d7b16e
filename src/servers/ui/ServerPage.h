#pragma once

#include "app/AppContext.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

// The servers page: the built-in HTTP server, the plug-and-play server, and the settings group
// with the language and the number of log files kept.
class ServerPage : public QWidget {
    Q_OBJECT
  public:
    ServerPage(const AppContext& ctx, QWidget* parent);

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

  private:
    void fillInterfaceList();
    void fillLanguageList();
    void readSettings();

    const AppContext& ctx_;
    bool shown_ = false;
};
