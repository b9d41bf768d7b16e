#include "discovery/ui/DevicesOnlinePage.h"

#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "app/InterfaceTable.h"
#include "app/Numbers.h"
#include "app/SettingsStore.h"
#include "discovery/DiscoveryDriver.h"
#include "discovery/ProvisionCommands.h"
#include "discovery/ui/DevicesOnlineView.h"
#include "page/PageControls.h"

#include <QLineEdit>

DevicesOnlinePage::DevicesOnlinePage(const AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
    setObjectName("DevicesOnlineTab");

    IpAddressGrid = new ::IpAddressGrid(this);
    IpAddressGrid->setGeometry(0, 0, 849, 553);

    const int x = 860;
    SelfAddressLabel = MakeCaptioned<QLabel>(this, "SelfAddressLabel", "Network:", {x, 8, 95, 22});
    SelfAddressComboBox =
        MakeControl<QComboBox>(this, "SelfAddressComboBox", {x + 100, 6, 270, 25});

    MacFilterGB = MakeCaptioned<QGroupBox>(this, "MacFilterGB", "MAC Filter", {x, 40, 370, 92});
    MacFilterPredefinedRb = MakeCaptioned<QRadioButton>(MacFilterGB, "MacFilterPredefinedRb",
                                                        "Predefined", {12, 26, 100, 22});
    MacFilterPredefinedCb =
        MakeControl<QComboBox>(MacFilterGB, "MacFilterPredefinedCb", {112, 24, 246, 25});
    MacFilterInputRb =
        MakeCaptioned<QRadioButton>(MacFilterGB, "MacFilterInputRb", "Input", {12, 60, 100, 22});
    MacFilterInputEdit =
        MakeControl<QLineEdit>(MacFilterGB, "MacFilterInputEdit", {112, 58, 246, 25});
    MacFilterInputEdit->setToolTip("Format: aa-bb-cc-");
    MacFilterInputEdit->setPlaceholderText("aa-bb-cc-");
    connect(MacFilterInputEdit, &QLineEdit::textEdited, this, Guarded([this](const QString& text) {
                const QString lower = text.toLower();
                if (lower != text) {
                    const int cursor = MacFilterInputEdit->cursorPosition();
                    MacFilterInputEdit->setText(lower);
                    MacFilterInputEdit->setCursorPosition(cursor);
                }
            }));

    ProvisionModeGB =
        MakeCaptioned<QGroupBox>(this, "ProvisionModeGB", "Provision Mode", {x, 142, 370, 56});
    ProvisionModeMacRb = MakeCaptioned<QRadioButton>(ProvisionModeGB, "ProvisionModeMacRb",
                                                     "MAC Mode", {12, 26, 150, 22});
    ProvisionModePinRb = MakeCaptioned<QRadioButton>(ProvisionModeGB, "ProvisionModePinRb",
                                                     "PIN Mode", {180, 26, 150, 22});

    DDButton = MakeCaptioned<QPushButton>(this, "DDButton", "Discover Devices", {x, 212, 370, 36});
    DiscoverProgressLabel = MakeCaptioned<QLabel>(
        this, "DiscoverProgressLabel", "Discover Progress: Nothing to do.", {x, 256, 370, 44});
    DiscoverProgressLabel->setWordWrap(true);
    DiscoverProgressLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    DDStopTimer = new QTimer(this);
    DDStopTimer->setObjectName("DDStopTimer");
    DDStopTimer->setInterval(12000);

    // The grid owns its popup menu; its items are the page's.
    IpAddrGridPopupMenu = IpAddressGrid->IpAddrGridPopupMenu();
    ProvisionPopupBtn = IpAddrGridPopupMenu->findChild<QAction*>("ProvisionPopupBtn");
    UpgradePopupBtn = IpAddrGridPopupMenu->findChild<QAction*>("UpgradePopupBtn");
    RefreshPopupBtn = IpAddrGridPopupMenu->findChild<QAction*>("RefreshPopupBtn");

    view_ = std::make_unique<DevicesOnlineView>(
        DiscoverProgressLabel, DDButton, DDStopTimer, IpAddressGrid,
        [&ctx](const QString& key) { return ctx.Translate(key); });
    driver_ = std::make_unique<DiscoveryDriver>(*ctx.notices, *ctx.dialogs, ctx.log, *view_);
    driver_->SetRecord(ctx.record);
    IpAddressGrid->SetDeviceTable(&driver_->Devices());

    connect(DDButton, &QPushButton::clicked, this, Guarded([this] { DDButtonClick(); }));
    connect(DDStopTimer, &QTimer::timeout, this, Guarded([this] { DDStopTimerTimer(); }));
    connect(IpAddressGrid, &::IpAddressGrid::ProvisionPopupBtnClick, this,
            Guarded([this] { ProvisionPopupBtnClick(); }));
    connect(IpAddressGrid, &::IpAddressGrid::UpgradePopupBtnClick, this,
            Guarded([this] { UpgradePopupBtnClick(); }));
    connect(IpAddressGrid, &::IpAddressGrid::RefreshPopupBtnClick, this,
            Guarded([this] { RefreshPopupBtnClick(); }));
}

DevicesOnlinePage::~DevicesOnlinePage() {
    // The driver first: it stops its sweep while the view's controls still exist.
    driver_.reset();
    view_.reset();
}

void DevicesOnlinePage::DevicesOnlineTabShow() {
    if (shown_)
        return;
    shown_ = true;
    fillNetworkList();
    IpAddressGrid->PrepareFirstShow();
    readSettings();
}

void DevicesOnlinePage::fillNetworkList() {
    SelfAddressComboBox->addItems(driver_->ReadNetworks());
    if (SelfAddressComboBox->count() > 0)
        SelfAddressComboBox->setCurrentIndex(0);
}

void DevicesOnlinePage::readSettings() {
    // One pass over each section; a key that stands twice takes its last value.
    for (const auto& [key, value] : ctx_.settings->SectionEntries(Setting::MacFilterMode.section)) {
        if (key == Setting::MacFilterMode.key)
            (ReadLeadingInt(value) != 0 ? MacFilterInputRb : MacFilterPredefinedRb)
                ->setChecked(true);
        else if (key == Setting::MacFilterFilter.key)
            MacFilterPredefinedCb->addItem(value);
        else if (key == Setting::MacFilterInput.key)
            MacFilterInputEdit->setText(value);
    }
    if (!MacFilterPredefinedRb->isChecked() && !MacFilterInputRb->isChecked())
        MacFilterPredefinedRb->setChecked(true);
    if (MacFilterPredefinedCb->count() > 0)
        MacFilterPredefinedCb->setCurrentIndex(0);

    bool pin = false;
    for (const auto& [key, value] : ctx_.settings->SectionEntries(Setting::ProvisionMode.section))
        if (key == Setting::ProvisionMode.key)
            pin = ReadLeadingInt(value) != 0;
    (pin ? ProvisionModePinRb : ProvisionModeMacRb)->setChecked(true);
}

void DevicesOnlinePage::DevicesOnlineTabExit() {
    SettingsStore& s = *ctx_.settings;
    if (MacFilterPredefinedRb->isChecked())
        s.Write(Setting::MacFilterMode, "0");
    else if (MacFilterInputRb->isChecked())
        s.Write(Setting::MacFilterMode, "1");
    s.Write(Setting::MacFilterInput, MacFilterInputEdit->text());
    s.Write(Setting::ProvisionMode, ProvisionModePinRb->isChecked() ? "1" : "0");
}

void DevicesOnlinePage::DDButtonClick() {
    DiscoveryRequest request;
    request.networkIndex = SelfAddressComboBox->currentIndex();
    request.networkText = SelfAddressComboBox->currentText();
    if (MacFilterPredefinedRb->isChecked())
        request.filter.mode = MacFilterChoice::Mode::Predefined;
    else if (MacFilterInputRb->isChecked())
        request.filter.mode = MacFilterChoice::Mode::Input;
    request.filter.predefinedEntry = MacFilterPredefinedCb->currentIndex() >= 0
                                         ? MacFilterPredefinedCb->currentText()
                                         : QString();
    request.filter.input = MacFilterInputEdit->text();
    driver_->DDButtonClick(request);
}

void DevicesOnlinePage::DDStopTimerTimer() {
    driver_->DDStopTimerTimer();
}

std::vector<SelectedDevice> DevicesOnlinePage::selectedDevices() const {
    std::vector<SelectedDevice> out;
    const MyExclusiveIntArray& rows = IpAddressGrid->RowSelection();
    for (int i = 0; i < rows.Count(); ++i) {
        const int row = rows.At(i);
        out.push_back({row, IpAddressGrid->Cell(row, ::IpAddressGrid::kAddressColumn).toLatin1(),
                       IpAddressGrid->Cell(row, ::IpAddressGrid::kMacColumn).toLatin1()});
    }
    return out;
}

void DevicesOnlinePage::ProvisionPopupBtnClick() {
    provision(RecordEvent::Kind::Provision);
}

void DevicesOnlinePage::provision(RecordEvent::Kind recordKind) {
    ProvisionOptions o;
    o.record = ctx_.record;
    o.recordKind = recordKind;
    if (ProvisionModeMacRb->isChecked())
        o.mode = ProvisionOptions::Mode::Mac;
    else if (ProvisionModePinRb->isChecked())
        o.mode = ProvisionOptions::Mode::Pin;
    else
        o.mode = ProvisionOptions::Mode::None;
    // The server choice and URL parts are those of the servers page.
    const ServerChoice server = ctx_.serverChoice();
    o.builtInServer = server.builtIn;
    o.protocol = server.protocol;
    o.builtInServerActive = server.running;
    o.storedHttpMode = ctx_.settings->Read(Setting::HttpMode.section, Setting::HttpMode.key);
    o.interfaceText = server.address.toUtf8();
    o.portText = server.portText.toUtf8();
    o.externalUrl = server.externalUrl.toUtf8();
    o.access = server.access;
    const QString error = ProvisionDevices(selectedDevices(), o, ctx_.log);
    if (!error.isEmpty())
        ctx_.dialogs->messageKey(error);
}

void DevicesOnlinePage::UpgradePopupBtnClick() {
    provision(RecordEvent::Kind::Upgrade);
}

void DevicesOnlinePage::RefreshPopupBtnClick() {
    const QString error =
        RefreshDevices(selectedDevices(), driver_->Gate(), DiscoveryDriver::kSipPort, ctx_.record);
    if (!error.isEmpty())
        ctx_.dialogs->messageKey(error);
}
