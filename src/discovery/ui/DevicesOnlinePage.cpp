#include "discovery/ui/DevicesOnlinePage.h"

#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "app/InterfaceTable.h"
#include "app/Numbers.h"
#include "app/SettingsStore.h"

namespace {

template <typename T>
T* control(QWidget* parent, const char* name, const QRect& place) {
    auto* w = new T(parent);
    w->setObjectName(name);
    w->setGeometry(place);
    return w;
}

template <typename T>
T* captioned(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* w = new T(caption, parent);
    w->setObjectName(name);
    w->setGeometry(place);
    return w;
}

QAction* menuItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(name);
    item->setParent(menu);
    return item;
}

}  // namespace

DevicesOnlinePage::DevicesOnlinePage(const AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
    setObjectName("DevicesOnlineTab");

    IpAddressGrid = new ::IpAddressGrid(this);
    IpAddressGrid->setGeometry(0, 0, 849, 553);
    QFont gridFont("Arial");
    gridFont.setPixelSize(16);
    IpAddressGrid->setFont(gridFont);

    const int x = 860;
    SelfAddressLabel = captioned<QLabel>(this, "SelfAddressLabel", "Network:", {x, 8, 95, 22});
    SelfAddressComboBox = control<QComboBox>(this, "SelfAddressComboBox", {x + 100, 6, 270, 25});

    MacFilterGB = captioned<QGroupBox>(this, "MacFilterGB", "MAC Filter", {x, 40, 370, 92});
    MacFilterPredefinedRb = captioned<QRadioButton>(MacFilterGB, "MacFilterPredefinedRb",
                                                    "Predefined", {12, 26, 100, 22});
    MacFilterPredefinedCb =
        control<QComboBox>(MacFilterGB, "MacFilterPredefinedCb", {112, 24, 246, 25});
    MacFilterInputRb =
        captioned<QRadioButton>(MacFilterGB, "MacFilterInputRb", "Input", {12, 60, 100, 22});
    MacFilterInputEdit = control<QLineEdit>(MacFilterGB, "MacFilterInputEdit", {112, 58, 246, 25});
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
        captioned<QGroupBox>(this, "ProvisionModeGB", "Provision Mode", {x, 142, 370, 56});
    ProvisionModeMacRb = captioned<QRadioButton>(ProvisionModeGB, "ProvisionModeMacRb", "MAC Mode",
                                                 {12, 26, 150, 22});
    ProvisionModePinRb = captioned<QRadioButton>(ProvisionModeGB, "ProvisionModePinRb", "PIN Mode",
                                                 {180, 26, 150, 22});

    DDButton = captioned<QPushButton>(this, "DDButton", "Discover Devices", {x, 212, 370, 36});
    DiscoverProgressLabel = captioned<QLabel>(
        this, "DiscoverProgressLabel", "Discover Progress: Nothing to do.", {x, 256, 370, 44});
    DiscoverProgressLabel->setWordWrap(true);
    DiscoverProgressLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    DDStopTimer = new QTimer(this);
    DDStopTimer->setObjectName("DDStopTimer");
    DDStopTimer->setInterval(12000);

    IpAddrGridPopupMenu = new QMenu(this);
    IpAddrGridPopupMenu->setObjectName("IpAddrGridPopupMenu");
    ProvisionPopupBtn = menuItem(IpAddrGridPopupMenu, "ProvisionPopupBtn", "Provision");
    UpgradePopupBtn = menuItem(IpAddrGridPopupMenu, "UpgradePopupBtn", "Upgrade");
    RefreshPopupBtn = menuItem(IpAddrGridPopupMenu, "RefreshPopupBtn", "Refresh");
    IpAddressGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(IpAddressGrid, &QWidget::customContextMenuRequested, this,
            Guarded([this](const QPoint& at) {
                IpAddrGridPopupMenu->popup(IpAddressGrid->viewport()->mapToGlobal(at));
            }));

    connect(DDButton, &QPushButton::clicked, this, Guarded([this] { DDButtonClick(); }));
    connect(DDStopTimer, &QTimer::timeout, this, Guarded([this] { DDStopTimerTimer(); }));
    connect(ProvisionPopupBtn, &QAction::triggered, this,
            Guarded([this] { ProvisionPopupBtnClick(); }));
    connect(UpgradePopupBtn, &QAction::triggered, this,
            Guarded([this] { UpgradePopupBtnClick(); }));
    connect(RefreshPopupBtn, &QAction::triggered, this,
            Guarded([this] { RefreshPopupBtnClick(); }));
}

void DevicesOnlinePage::DevicesOnlineTabShow() {
    if (shown_)
        return;
    shown_ = true;
    IpAddressGrid->setColumnWidth(0, 30);
    fillNetworkList();
    readSettings();
}

void DevicesOnlinePage::fillNetworkList() {
    std::vector<InterfaceRow> rows;
    if (!ReadInterfaceTable(&rows))
        ctx_.dialogs->messageText("Sorry, can not get IP table!");
    for (const InterfaceRow& row : rows)
        if (row.AddressText() != "127.0.0.1")
            SelfAddressComboBox->addItem(row.AddressText());
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

void DevicesOnlinePage::DDButtonClick() {}

void DevicesOnlinePage::DDStopTimerTimer() {}

void DevicesOnlinePage::ProvisionPopupBtnClick() {}

void DevicesOnlinePage::UpgradePopupBtnClick() {}

void DevicesOnlinePage::RefreshPopupBtnClick() {}
