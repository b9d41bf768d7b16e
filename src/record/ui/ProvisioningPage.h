#pragma once

#include "page/AppContext.h"
#include "record/RecordReader.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

class QSortFilterProxyModel;
class TextTableModel;

// The "Provisioning" page: one row per phone of the provisioning record with the state of its
// road (file written, told, downloaded) in words and colour, a summary line, filters and a
// search, sortable columns, the events of the selected phone, CSV export and clearing. While
// shown it looks at the record twice a second and reads it again only when something was
// committed, so a storm of downloads costs the window one query per look.
class ProvisioningPage : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 500;
    static constexpr int kEventsRefreshMs = 5000;

    // The columns of the phone table, in order.
    enum Column {
        ColPhone,
        ColState,
        ColFileTime,
        ColFile,
        ColToldTime,
        ColToldBy,
        ColAddress,  // the phone's address as last heard of (seen, leased, told)
        ColFetchTime,
        ColStatus,
        ColBytes,
        ColSource,  // http, https, tftp, or external with the log
        ColUserAgent,
        ColPeer,
        ColModel,
        ColVersion,
        ColHostName,
        kColumns
    };

    ProvisioningPage(const AppContext& ctx, QWidget* parent);
    ~ProvisioningPage() override;

    QRadioButton* RecordFilterAllRb;
    QRadioButton* RecordFilterPendingRb;
    QRadioButton* RecordFilterFailedRb;
    QRadioButton* RecordFilterUnknownRb;
    QRadioButton* RecordFilterSeenRb;
    QLineEdit* RecordSearchEdit;
    QPushButton* RecordExportButton;
    QPushButton* RecordClearButton;
    QLabel* RecordSummaryLabel;
    QTableView* RecordPhoneGrid;
    QLabel* RecordEventsLabel;
    QTableView* RecordEventGrid;
    QLabel* RecordFileLabel;
    QLabel* RecordFileText;  // the file's path, or that recording is off, which file and why
    QTimer* RecordRefreshTimer;

    // Page shown: reads the record and keeps looking while shown. Page left: stops looking.
    void ProvisioningTabShow();
    void ProvisioningTabExit();

    // Reads the record again when it changed, or the filter, search or language did (always
    // when forced).
    void Refresh(bool force = false);
    void RecordExportButtonClick();
    void RecordClearButtonClick();

    PhoneFilter Filter() const;
    // The rows of the filter and search, as the page shows them (in the language in force),
    // in the record's order; the view may sort them otherwise.
    const TextTableModel& Phones() const { return *phones_; }
    const TextTableModel& Events() const { return *events_; }
    // Selects the row of a phone (nothing when it is not shown).
    void SelectPhone(const QString& phone);
    QString SelectedPhone() const;

  private:
    void refreshEvents();
    QStringList phoneHeader() const;
    // A phone's cells; times short (today: the time only) or, for the export, whole.
    QStringList phoneCells(const PhoneStatus& phone, bool wholeTimes) const;
    QString summary(const std::vector<PhoneStatus>& all) const;
    void showRecordState();

    const AppContext& ctx_;
    TextTableModel* phones_;
    TextTableModel* events_;
    QSortFilterProxyModel* sorted_;
    RecordReader reader_;
    std::vector<PhoneStatus> shown_;  // the rows of phones_, as read
    quint64 shownGeneration_ = ~0ull;
    qint64 shownVersion_ = -1;  // the reader's data version: commits of other programs too
    PhoneFilter shownFilter_ = PhoneFilter::All;
    QString shownSearch_;
    QString shownLanguage_;
    QString eventsOf_;       // the phone whose events are shown
    QStringList eventsRow_;  // its row when they were read
    QElapsedTimer eventsRead_;
};
