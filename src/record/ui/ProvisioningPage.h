#pragma once

#include "page/AppContext.h"
#include "record/RecordReader.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

class TextTableModel;

// The "Provisioning" page: one row per phone of the provisioning record with the state of its
// road (file written, told, downloaded) in words and colour, a filter, the events of the
// selected phone, CSV export and clearing. While shown it looks at the record twice a second
// and reads it again only when something was committed, so a storm of downloads costs the
// window one query per look.
class ProvisioningPage : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 500;
    static constexpr int kEventsRefreshMs = 5000;

    ProvisioningPage(const AppContext& ctx, QWidget* parent);
    ~ProvisioningPage() override;

    QRadioButton* RecordFilterAllRb;
    QRadioButton* RecordFilterPendingRb;
    QRadioButton* RecordFilterFailedRb;
    QRadioButton* RecordFilterUnknownRb;
    QPushButton* RecordExportButton;
    QPushButton* RecordClearButton;
    QTableView* RecordPhoneGrid;
    QLabel* RecordEventsLabel;
    QTableView* RecordEventGrid;
    QLabel* RecordFileLabel;
    QLabel* RecordFileText;  // the file's path, or that recording is off
    QTimer* RecordRefreshTimer;

    // Page shown: reads the record and keeps looking while shown. Page left: stops looking.
    void ProvisioningTabShow();
    void ProvisioningTabExit();

    // Reads the record again when it changed (always when forced).
    void Refresh(bool force = false);
    void RecordExportButtonClick();
    void RecordClearButtonClick();

    PhoneFilter Filter() const;
    // The rows shown, as the page shows them (the state in the language in force).
    const TextTableModel& Phones() const { return *phones_; }
    const TextTableModel& Events() const { return *events_; }
    // Selects the row of a phone (nothing when it is not shown).
    void SelectPhone(const QString& phone);
    QString SelectedPhone() const;

  private:
    void refreshEvents();
    QStringList phoneHeader() const;

    const AppContext& ctx_;
    TextTableModel* phones_;
    TextTableModel* events_;
    RecordReader reader_;
    quint64 shownGeneration_ = ~0ull;
    PhoneFilter shownFilter_ = PhoneFilter::All;
    QString eventsOf_;       // the phone whose events are shown
    QStringList eventsRow_;  // its row when they were read
    QElapsedTimer eventsRead_;
};
