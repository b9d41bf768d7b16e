#include "record/ui/ProvisioningPage.h"

#include "app/AtomicFile.h"
#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "page/PageControls.h"
#include "record/ProvisioningRecord.h"
#include "record/ui/PhoneStateLook.h"
#include "record/ui/TextTableModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>

namespace {

const char* const kEventColumnKeys[] = {"LRecColTime",     "LRecColEvent",     "LRecColAddress",
                                        "LRecColPathUrl",  "LRecColStatus",    "LRecColBytes",
                                        "LRecColProtocol", "LRecColUserAgent", "LRecColModel",
                                        "LRecColVersion",  "LRecColOnline"};

QTableView* grid(QWidget* parent, const char* name, const QRect& place, TextTableModel* model) {
    auto* view = MakeControl<QTableView>(parent, name, place);
    view->setModel(model);
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->horizontalHeader()->setDefaultSectionSize(110);
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

}  // namespace

ProvisioningPage::ProvisioningPage(const AppContext& ctx, QWidget* parent)
    : QWidget(parent),
      ctx_(ctx),
      phones_(new TextTableModel(1, this)),
      events_(new TextTableModel(-1, this)) {
    setObjectName("ProvisioningTab");

    RecordFilterAllRb =
        MakeCaptioned<QRadioButton>(this, "RecordFilterAllRb", "All", {16, 10, 120, 22});
    RecordFilterAllRb->setChecked(true);
    RecordFilterPendingRb = MakeCaptioned<QRadioButton>(this, "RecordFilterPendingRb",
                                                        "Not fetched yet", {140, 10, 190, 22});
    RecordFilterFailedRb =
        MakeCaptioned<QRadioButton>(this, "RecordFilterFailedRb", "Failed", {334, 10, 150, 22});
    RecordFilterUnknownRb =
        MakeCaptioned<QRadioButton>(this, "RecordFilterUnknownRb", "Unknown", {488, 10, 150, 22});
    RecordExportButton =
        MakeCaptioned<QPushButton>(this, "RecordExportButton", "Export CSV", {964, 6, 126, 28});
    RecordClearButton =
        MakeCaptioned<QPushButton>(this, "RecordClearButton", "Clear record", {1100, 6, 126, 28});

    RecordPhoneGrid = grid(this, "RecordPhoneGrid", {10, 42, 1220, 300}, phones_);
    RecordEventsLabel = MakeCaptioned<QLabel>(this, "RecordEventsLabel",
                                              "Events of the selected phone:", {12, 348, 600, 20});
    RecordEventGrid = grid(this, "RecordEventGrid", {10, 370, 1220, 150}, events_);
    RecordFileLabel =
        MakeCaptioned<QLabel>(this, "RecordFileLabel", "Record file:", {12, 526, 150, 20});
    RecordFileText = new QLabel(this);
    RecordFileText->setGeometry(166, 526, 1060, 20);
    RecordRefreshTimer = new QTimer(this);
    RecordRefreshTimer->setObjectName("RecordRefreshTimer");
    RecordRefreshTimer->setInterval(kRefreshMs);

    for (QRadioButton* filter :
         {RecordFilterAllRb, RecordFilterPendingRb, RecordFilterFailedRb, RecordFilterUnknownRb})
        connect(filter, &QRadioButton::toggled, this, Guarded([this](bool on) {
                    if (on)
                        Refresh();
                }));
    connect(RecordExportButton, &QPushButton::clicked, this,
            Guarded([this] { RecordExportButtonClick(); }));
    connect(RecordClearButton, &QPushButton::clicked, this,
            Guarded([this] { RecordClearButtonClick(); }));
    connect(RecordRefreshTimer, &QTimer::timeout, this, Guarded([this] { Refresh(); }));
    connect(RecordPhoneGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            Guarded([this](const QModelIndex&, const QModelIndex&) { refreshEvents(); }));
}

ProvisioningPage::~ProvisioningPage() = default;

void ProvisioningPage::ProvisioningTabShow() {
    Refresh(true);
    RecordRefreshTimer->start();
}

void ProvisioningPage::ProvisioningTabExit() {
    RecordRefreshTimer->stop();
}

PhoneFilter ProvisioningPage::Filter() const {
    if (RecordFilterPendingRb->isChecked())
        return PhoneFilter::Pending;
    if (RecordFilterFailedRb->isChecked())
        return PhoneFilter::Failed;
    if (RecordFilterUnknownRb->isChecked())
        return PhoneFilter::Unknown;
    return PhoneFilter::All;
}

QStringList ProvisioningPage::phoneHeader() const {
    QStringList header;
    for (const PhoneColumn& column : kPhoneColumns)
        header << ctx_.Translate(column.captionKey);
    return header;
}

void ProvisioningPage::Refresh(bool force) {
    ProvisioningRecord* record = ctx_.record;
    RecordFileText->setText(record && record->IsOn() ? record->Path()
                                                     : ctx_.Translate("LRecordOff"));
    phones_->SetHeader(phoneHeader());
    QStringList eventHeader;
    for (const char* key : kEventColumnKeys)
        eventHeader << ctx_.Translate(key);
    events_->SetHeader(eventHeader);

    if (!reader_.IsOpen() && record && record->IsOn())
        reader_.Open(record->Path());
    const quint64 generation = record ? record->Generation() : 0;
    if (!force && generation == shownGeneration_ && Filter() == shownFilter_)
        return;
    shownGeneration_ = generation;
    shownFilter_ = Filter();

    const QString selected = SelectedPhone();
    std::vector<TextTableModel::Row> rows;
    for (const PhoneStatus& phone : reader_.Phones(shownFilter_)) {
        QStringList cells = PhoneCells(phone);
        const PhoneStateLook look = PhoneStateLookOf(phone.state);
        cells[1] = ctx_.Translate(look.textKey);
        rows.push_back({cells[0], cells, look.colour});
    }
    phones_->SetRows(std::move(rows));
    if (!selected.isEmpty() && SelectedPhone() != selected)
        SelectPhone(selected);
    // The event list costs a pass over the record: read again when the selected phone's row
    // changed, else every few seconds (events that change no row, such as a Refresh sent).
    const int row = phones_->RowOf(SelectedPhone());
    const QStringList cells = row < 0 ? QStringList() : phones_->Rows()[size_t(row)].cells;
    if (force || SelectedPhone() != eventsOf_ || cells != eventsRow_ || !eventsRead_.isValid() ||
        eventsRead_.hasExpired(kEventsRefreshMs))
        refreshEvents();
}

void ProvisioningPage::SelectPhone(const QString& phone) {
    const int row = phones_->RowOf(phone);
    if (row >= 0)
        RecordPhoneGrid->selectionModel()->setCurrentIndex(
            phones_->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QString ProvisioningPage::SelectedPhone() const {
    const QModelIndex current = RecordPhoneGrid->selectionModel()->currentIndex();
    if (!current.isValid() || current.row() >= int(phones_->Rows().size()))
        return {};
    return phones_->Rows()[size_t(current.row())].key;
}

void ProvisioningPage::refreshEvents() {
    const QString phone = SelectedPhone();
    std::vector<TextTableModel::Row> rows;
    if (!phone.isEmpty()) {
        for (const RecordedEvent& recorded : reader_.Events(phone.toUtf8())) {
            const RecordEvent& e = recorded.event;
            const bool fetch = e.kind == RecordEvent::Kind::Fetch;
            rows.push_back({QString(),
                            {CellText(recorded.time), ctx_.Translate(RecordKindKey(e.kind)),
                             CellText(e.address), CellText(e.path.isEmpty() ? e.url : e.path),
                             fetch ? QString::number(e.status) : QString(),
                             fetch ? QString::number(e.bytes) : QString(), CellText(e.protocol),
                             CellText(e.userAgent), CellText(e.model), CellText(e.version),
                             e.online < 0 ? QString() : QString::number(e.online)},
                            QColor()});
        }
    }
    events_->SetRows(std::move(rows));
    eventsOf_ = phone;
    eventsRead_.start();
    const int row = phones_->RowOf(phone);
    eventsRow_ = row < 0 ? QStringList() : phones_->Rows()[size_t(row)].cells;
}

void ProvisioningPage::RecordExportButtonClick() {
    const QString path = ctx_.dialogs->saveFile("CSV files|*.csv", "csv");
    if (path.isEmpty())
        return;
    std::vector<QStringList> rows;
    for (const TextTableModel::Row& row : phones_->Rows())
        rows.push_back(row.cells);
    // UTF-8 with a byte-order mark, as spreadsheets recognise it.
    const QByteArray bytes = "\xEF\xBB\xBF" + SpreadsheetCsv(phoneHeader(), rows).toUtf8();
    if (!WriteFileAtomically(path, bytes))
        ctx_.dialogs->messageKey("LCsvError2");
}

void ProvisioningPage::RecordClearButtonClick() {
    if (!ctx_.dialogs->question(UiText::key("LRecordClearQ"), UiText::key("LContinueQ"),
                                Dialogs::Buttons::YesNo))
        return;
    if (ctx_.record) {
        ctx_.record->Clear();
        ctx_.record->Flush();
    }
    Refresh(true);
}
