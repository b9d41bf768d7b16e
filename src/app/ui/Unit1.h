#pragma once

#include "app/LanguageTable.h"
#include "app/Localization.h"
#include "app/MyLog.h"
#include "app/Notices.h"
#include "app/QtTranslation.h"
#include "app/SettingsStore.h"
#include "app/ui/QtDialogs.h"
#include "config/CfgTemplate.h"
#include "page/AppContext.h"
#include "record/ProvisioningRecord.h"

#include <QFrame>
#include <QLabel>
#include <QSet>
#include <QTabWidget>
#include <QWidget>
#include <exception>
#include <memory>

class CsvBatchPage;
class DevicesOnlinePage;
class PhoneCfgPage;
class ProvisioningPage;
class ServerPage;
class TemplateBar;
class VisualEditor;
class ToolPage;

// The main window. It owns every long-lived object of the program (settings, language, log,
// the configuration, the notice transport) and hands them to its pages through the context.
class TForm1 : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* Title = "Orvo Provision Tool 1.3.3beta";

    // dialogs: the program's dialogs, or null for the window's own Qt dialogs.
    explicit TForm1(Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    // The application-level handler of an exception that escaped an event handler.
    void ApplicationEvents1Exception(std::exception_ptr error);

    // The context the pages hold (by reference): later parts add their shared objects here.
    AppContext& Context() { return ctx_; }
    const AppContext& Context() const { return ctx_; }
    SettingsStore& Settings() { return settings_; }
    Localization& Language() { return localization_; }
    MyLog& Log() { return log_; }
    CfgTemplate& Template() { return cfg_; }
    NoticeTransport& Notices() { return notices_; }
    ProvisioningRecord& Record() { return record_; }

    QFrame* Panel5;
    QLabel* HttpServerLabel;
    QLabel* HttpServerStatusLabel;
    QLabel* PnpServerLabel;
    QLabel* PnpServerStatusLabel;
    QLabel* TftpServerLabel;
    QLabel* TftpServerStatusLabel;
    QLabel* DhcpServerLabel;
    QLabel* DhcpServerStatusLabel;
    TemplateBar* TemplateBar1;
    QTabWidget* PageControl1;
    PhoneCfgPage* PhoneCfgTab;
    CsvBatchPage* CsvBatchTab;
    DevicesOnlinePage* DevicesOnlineTab;
    ServerPage* ServerTab;
    ToolPage* ToolTab;
    ProvisioningPage* ProvisioningTab;
    // Handles the events of the Phone Configuration page and the template bar.
    VisualEditor* visualEditor = nullptr;

    // The text colours of the server status labels.
    static QColor StoppedColor() { return QColor(128, 0, 0); }
    static QColor RunningColor() { return QColor(0, 128, 0); }
    static void SetLabelColor(QLabel* label, const QColor& color);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // A server's state in the top bar.
    void showServerState(ServerKind server, const QString& text, bool running);
    void buildWindow();
    void FormCreate();
    void FormDestroy();
    void pageShow(QWidget* page);
    void pageExit(QWidget* page);
    // Opens the provisioning record (db/provisioning.sqlite), pruned to [RECORD] keep_days.
    void openRecord();
    // Recording turned off: one message and one log line, on the main thread.
    void recordFailed(const QString& path, const QString& reason);

    QString workDir_;
    bool workDirKnown_ = false;
    SettingsStore settings_;
    LanguageTable language_;
    std::unique_ptr<QtDialogs> ownDialogs_;
    Dialogs* dialogs_;
    Localization localization_;
    QtTranslation qtTranslation_;
    MyLog log_;
    CfgTemplate cfg_;
    NoticeTransport notices_;
    ProvisioningRecord record_;
    AppContext ctx_;

    QWidget* currentPage_ = nullptr;
    QSet<QWidget*> shownPages_;
    bool firstShown_ = false;
    bool destroyed_ = false;
};
