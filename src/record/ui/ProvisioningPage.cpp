#include "record/ui/ProvisioningPage.h"

#include "app/AtomicFile.h"
#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "page/PageControls.h"
#include "record/ProvisioningRecord.h"
#include "record/RecordSchema.h"
#include "record/ui/PhoneStateLook.h"
#include "record/ui/TextTableModel.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSortFilterProxyModel>

namespace {

// The phone table's captions, in ProvisioningPage::Column order.
const char* const kPhoneColumnKeys[] = {
    "LRecColPhone",    "LRecColState",  "LRecColFileTime",    "LRecColFile",
    "LRecColToldTime", "LRecColToldBy", "LRecColToldAddress", "LRecColFetchTime",
    "LRecColStatus",   "LRecColBytes",  "LRecColSource",      "LRecColUserAgent",
    "LRecColPeer",     "LRecColModel",  "LRecColVersion",     "LRecColHost"};
static_assert(std::size(kPhoneColumnKeys) == ProvisioningPage::kColumns);

const char* const kEventColumnKeys[] = {"LRecColTime",     "LRecColEvent",    "LRecColAddress",
                                        "LRecColPathUrl",  "LRecColStatus",   "LRecColBytes",
                                        "LRecColComplete", "LRecColProtocol", "LRecColUserAgent",
                                        "LRecColModel",    "LRecColVersion",  "LRecColOnline"};

QTableView* grid(QWidget* parent, const char* name, const QRect& place, QAbstractItemModel* model) {
    auto* view = MakeControl<QTableView>(parent, name, place);
    view->setModel(model);
    view->verticalHeader()->hide();
    // One line of text per row: more phones at a glance.
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->horizontalHeader()->setDefaultSectionSize(110);
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

// The latest of a few (time, text) pairs: the phone's address as last heard of.
QByteArray latest(std::initializer_list<std::pair<const QByteArray*, const QByteArray*>> pairs) {
    QByteArray time, text;
    for (const auto& [t, value] : pairs)
        if (!value->isEmpty() && *t >= time) {
            time = *t;
            text = *value;
        }
    return text;
}

}  // namespace

ProvisioningPage::ProvisioningPage(const AppContext& ctx, QWidget* parent)
    : QWidget(parent),
      ctx_(ctx),
      phones_(new TextTableModel(ColState, this)),
      events_(new TextTableModel(-1, this)),
      sorted_(new QSortFilterProxyModel(this)) {
    setObjectName("ProvisioningTab");

    RecordFilterAllRb =
        MakeCaptioned<QRadioButton>(this, "RecordFilterAllRb", "All", {16, 10, 90, 22});
    RecordFilterAllRb->setChecked(true);
    RecordFilterPendingRb = MakeCaptioned<QRadioButton>(this, "RecordFilterPendingRb",
                                                        "Not fetched yet", {110, 10, 170, 22});
    RecordFilterFailedRb =
        MakeCaptioned<QRadioButton>(this, "RecordFilterFailedRb", "Failed", {284, 10, 136, 22});
    RecordFilterUnknownRb =
        MakeCaptioned<QRadioButton>(this, "RecordFilterUnknownRb", "Unknown", {424, 10, 120, 22});
    RecordFilterSeenRb =
        MakeCaptioned<QRadioButton>(this, "RecordFilterSeenRb", "Seen only", {548, 10, 130, 22});
    RecordSearchEdit = MakeControl<QLineEdit>(this, "RecordSearchEdit", {684, 8, 270, 26});
    RecordSearchEdit->setClearButtonEnabled(true);
    RecordExportButton =
        MakeCaptioned<QPushButton>(this, "RecordExportButton", "Export CSV", {964, 6, 126, 28});
    RecordClearButton =
        MakeCaptioned<QPushButton>(this, "RecordClearButton", "Clear record", {1100, 6, 126, 28});
    RecordSummaryLabel = MakeControl<QLabel>(this, "RecordSummaryLabel", {12, 40, 1216, 20});

    sorted_->setSourceModel(phones_);
    sorted_->setSortRole(Qt::UserRole);
    sorted_->setDynamicSortFilter(true);
    RecordPhoneGrid = grid(this, "RecordPhoneGrid", {10, 62, 1220, 282}, sorted_);
    RecordPhoneGrid->setItemDelegateForColumn(ColState, new StateColourDelegate(RecordPhoneGrid));
    RecordPhoneGrid->setSortingEnabled(true);
    RecordPhoneGrid->sortByColumn(ColPhone, Qt::AscendingOrder);
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

    for (QRadioButton* filter : {RecordFilterAllRb, RecordFilterPendingRb, RecordFilterFailedRb,
                                 RecordFilterUnknownRb, RecordFilterSeenRb})
        connect(filter, &QRadioButton::toggled, this, Guarded([this](bool on) {
                    if (on)
                        Refresh();
                }));
    connect(RecordSearchEdit, &QLineEdit::textChanged, this,
            Guarded([this](const QString&) { Refresh(); }));
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
    if (RecordFilterSeenRb->isChecked())
        return PhoneFilter::Seen;
    return PhoneFilter::All;
}

QStringList ProvisioningPage::phoneHeader() const {
    QStringList header;
    for (const char* key : kPhoneColumnKeys)
        header << ctx_.Translate(key);
    return header;
}

QStringList ProvisioningPage::phoneCells(const PhoneStatus& p, bool wholeTimes) const {
    const QDateTime now = QDateTime::currentDateTime();
    const auto time = [&](const QByteArray& stored) {
        return wholeTimes ? FullTimeText(stored) : ShortTimeText(stored, now);
    };
    QString status;
    if (p.fetchStatus != 0) {
        status = QString::number(p.fetchStatus);
        if (p.fetchStatus / 100 == 2 && p.fetchComplete == 0)
            status += " " + ctx_.Translate("LRecCutOff");
    }
    QString source = CellText(p.fetchProtocol);
    if (p.fetchProtocol == "external") {
        source = ctx_.Translate("LRecSourceExternal");
        if (!p.fetchSource.isEmpty())
            source += " (" +
                      CellText(QFileInfo(QString::fromUtf8(p.fetchSource)).fileName().toUtf8()) +
                      ")";
    }
    RecordEvent::Kind toldBy;
    const QString told = RecordKindOf(p.toldBy, &toldBy) ? ctx_.Translate(RecordKindKey(toldBy))
                                                         : CellText(p.toldBy);
    QStringList cells;
    cells.reserve(kColumns);
    cells << CellText(p.phone) << ctx_.Translate(PhoneStateLookOf(p.state).textKey)
          << time(p.fileTime) << CellText(p.filePath) << time(p.toldTime) << told
          << CellText(latest({{&p.seenTime, &p.seenAddress}, {&p.toldTime, &p.toldAddress}}))
          << time(p.fetchTime) << status
          << (p.fetchStatus != 0 ? QString::number(p.fetchBytes) : QString()) << source
          << CellText(p.fetchUserAgent) << CellText(p.fetchPeer) << CellText(p.model)
          << CellText(p.version) << CellText(p.hostName);
    return cells;
}

QString ProvisioningPage::summary(const std::vector<PhoneStatus>& all) const {
    const PhoneCounts n = CountPhones(all);
    QString text = ctx_.Translate("LRecSummary")
                       .arg(n.phones)
                       .arg(n.fetched)
                       .arg(n.failed)
                       .arg(n.told)
                       .arg(n.fileReady);
    if (n.unknown)
        text += ctx_.Translate("LRecSummaryUnknown").arg(n.unknown);
    if (n.seen)
        text += ctx_.Translate("LRecSummarySeen").arg(n.seen);
    return text;
}

void ProvisioningPage::showRecordState() {
    ProvisioningRecord* record = ctx_.record;
    const bool on = record && record->IsOn();
    QString text = record && on ? record->Path() : ctx_.Translate("LRecordOff");
    if (record && !on && !record->Path().isEmpty())
        text += " " + record->Path() + ": " + record->FailureReason();
    RecordFileText->setText(text);
    RecordFileText->setToolTip(text);
    RecordClearButton->setEnabled(on);
}

void ProvisioningPage::Refresh(bool force) {
    showRecordState();
    phones_->SetHeader(phoneHeader());
    QStringList eventHeader;
    for (const char* key : kEventColumnKeys)
        eventHeader << ctx_.Translate(key);
    events_->SetHeader(eventHeader);
    RecordSearchEdit->setPlaceholderText(ctx_.Translate("LRecSearchHint"));

    ProvisioningRecord* record = ctx_.record;
    if (!reader_.IsOpen() && record && record->IsOn())
        reader_.Open(record->Path());
    const quint64 generation = record ? record->Generation() : 0;
    // What other programs commit (an access log's follower, orvo-cli) is no generation of ours.
    const qint64 version = reader_.DataVersion();
    const QString search = RecordSearchEdit->text();
    const QString language = eventHeader.join('|');
    if (!force && generation == shownGeneration_ && version == shownVersion_ &&
        Filter() == shownFilter_ && search == shownSearch_ && language == shownLanguage_)
        return;
    const bool relaid = language != shownLanguage_;
    shownGeneration_ = generation;
    shownVersion_ = version;
    shownFilter_ = Filter();
    shownSearch_ = search;
    shownLanguage_ = language;

    const QString selected = SelectedPhone();
    const std::vector<PhoneStatus> all = reader_.Phones();
    RecordSummaryLabel->setText(summary(all));
    shown_.clear();
    std::vector<TextTableModel::Row> rows;
    for (const PhoneStatus& phone : all) {
        if (!FilterKeeps(shownFilter_, phone.state) || !PhoneMatches(phone, search))
            continue;
        TextTableModel::Row row;
        row.key = QString::fromUtf8(phone.phone);
        row.cells = phoneCells(phone, false);
        row.colour = PhoneStateLookOf(phone.state).colour;
        for (const QString& cell : row.cells)
            row.sortKeys << cell;
        // Times by when, numbers by size.
        row.sortKeys[ColFetchTime] = QString::fromUtf8(phone.fetchTime);
        row.sortKeys[ColToldTime] = QString::fromUtf8(phone.toldTime);
        row.sortKeys[ColFileTime] = QString::fromUtf8(phone.fileTime);
        row.sortKeys[ColStatus] = phone.fetchStatus;
        row.sortKeys[ColBytes] = phone.fetchStatus ? phone.fetchBytes : -1;
        row.sortKeys[ColState] = int(phone.state);
        rows.push_back(std::move(row));
        shown_.push_back(phone);
    }
    bool sameKeys = rows.size() == phones_->Rows().size();
    for (size_t i = 0; sameKeys && i < rows.size(); ++i)
        sameKeys = rows[i].key == phones_->Rows()[i].key;
    phones_->SetRows(std::move(rows));
    if (!sameKeys || relaid)
        RecordPhoneGrid->resizeColumnsToContents();
    if (!selected.isEmpty() && SelectedPhone() != selected)
        SelectPhone(selected);
    // The event list costs a look at the record: read again when the selected phone's row
    // changed, else every few seconds (events that change no row, such as a Refresh sent).
    const int row = phones_->RowOf(SelectedPhone());
    const QStringList cells = row < 0 ? QStringList() : phones_->Rows()[size_t(row)].cells;
    if (force || relaid || SelectedPhone() != eventsOf_ || cells != eventsRow_ ||
        !eventsRead_.isValid() || eventsRead_.hasExpired(kEventsRefreshMs))
        refreshEvents();
}

void ProvisioningPage::SelectPhone(const QString& phone) {
    const int row = phones_->RowOf(phone);
    if (row < 0)
        return;
    const QModelIndex shown = sorted_->mapFromSource(phones_->index(row, 0));
    RecordPhoneGrid->selectionModel()->setCurrentIndex(
        shown, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QString ProvisioningPage::SelectedPhone() const {
    const QModelIndex current =
        sorted_->mapToSource(RecordPhoneGrid->selectionModel()->currentIndex());
    if (!current.isValid() || current.row() >= int(phones_->Rows().size()))
        return {};
    return phones_->Rows()[size_t(current.row())].key;
}

void ProvisioningPage::refreshEvents() {
    const QString phone = SelectedPhone();
    std::vector<TextTableModel::Row> rows;
    const QDateTime now = QDateTime::currentDateTime();
    if (!phone.isEmpty()) {
        for (const RecordedEvent& recorded : reader_.Events(phone.toUtf8())) {
            const RecordEvent& e = recorded.event;
            const bool fetch = e.kind == RecordEvent::Kind::Fetch;
            QString event = ctx_.Translate(RecordKindKey(e.kind));
            if (fetch && e.method == "HEAD")
                event += " (HEAD)";
            QString complete;
            if (fetch && e.complete >= 0)
                complete = ctx_.Translate(e.complete ? "LRecWhole" : "LRecCutOff");
            QString source = CellText(e.protocol);
            if (e.protocol == "external" && !e.source.isEmpty())
                source += " (" + CellText(e.source) + ")";
            QString address = CellText(e.address);
            if (e.kind == RecordEvent::Kind::Lease && !e.hostName.isEmpty())
                address += " (" + CellText(e.hostName) + ")";
            rows.push_back({QString(),
                            {ShortTimeText(recorded.time, now), event, address,
                             CellText(e.path.isEmpty() ? e.url : e.path),
                             fetch ? QString::number(e.status) : QString(),
                             fetch ? QString::number(e.bytes) : QString(), complete, source,
                             CellText(e.userAgent), CellText(e.model), CellText(e.version),
                             e.online < 0 ? QString() : QString::number(e.online)},
                            QColor(),
                            {}});
        }
    }
    events_->SetRows(std::move(rows));
    RecordEventGrid->resizeColumnsToContents();
    eventsOf_ = phone;
    eventsRead_.start();
    const int row = phones_->RowOf(phone);
    eventsRow_ = row < 0 ? QStringList() : phones_->Rows()[size_t(row)].cells;
}

void ProvisioningPage::RecordExportButtonClick() {
    const QString path = ctx_.dialogs->saveFile("CSV files|*.csv", "csv");
    if (path.isEmpty())
        return;
    // The rows in the order shown, with whole local times.
    std::vector<QStringList> rows;
    for (int r = 0; r < sorted_->rowCount(); ++r) {
        const int source = sorted_->mapToSource(sorted_->index(r, 0)).row();
        if (source >= 0 && size_t(source) < shown_.size())
            rows.push_back(phoneCells(shown_[size_t(source)], true));
    }
    // UTF-8 with a byte-order mark, as spreadsheets recognise it.
    const QByteArray bytes = "\xEF\xBB\xBF" + SpreadsheetCsv(phoneHeader(), rows).toUtf8();
    if (!WriteFileAtomically(path, bytes))
        ctx_.dialogs->messageKey("LCsvError2");
}

void ProvisioningPage::RecordClearButtonClick() {
    if (!ctx_.record || !ctx_.record->IsOn())
        return;
    if (!ctx_.dialogs->question(UiText::key("LRecordClearQ"), UiText::key("LContinueQ"),
                                Dialogs::Buttons::YesNoDefaultNo))
        return;
    ctx_.record->Clear();
    ctx_.record->Flush();
    Refresh(true);
}
