#include "servers/ui/ServerPage.h"

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

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* e = control<QLineEdit>(parent, name, place);
    e->setText(text);
    return e;
}

}  // namespace

ServerPage::ServerPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("ServerTab");

    HttpServerGB = captioned<QGroupBox>(this, "HttpServerGB", "HTTP Server", {10, 10, 610, 170});
    HttpServerBuiltinRb = captioned<QRadioButton>(HttpServerGB, "HttpServerBuiltinRb",
                                                  "Built-in Server", {16, 30, 160, 22});
    HttpServerBuiltinRb->setChecked(true);
    MyHttpServerPortLabel = captioned<QLabel>(HttpServerGB, "MyHttpServerPortLabel",
                                              "Port (1025-65525)", {190, 30, 140, 22});
    MyHttpServerPort = edit(HttpServerGB, "MyHttpServerPort", "6000", {340, 28, 90, 25});
    MyHttpServerPort->setMaxLength(5);
    InterfaceForServerLabel = captioned<QLabel>(HttpServerGB, "InterfaceForServerLabel",
                                                "Server IP:", {190, 64, 140, 22});
    InterfaceForServerCB =
        control<QComboBox>(HttpServerGB, "InterfaceForServerCB", {340, 62, 150, 25});
    InterfaceForServerCB->setEditable(true);
    HttpServerControlButton =
        captioned<QPushButton>(HttpServerGB, "HttpServerControlButton", "Start", {500, 28, 96, 59});
    HttpServerExRb = captioned<QRadioButton>(HttpServerGB, "HttpServerExRb", "External Server",
                                             {16, 120, 160, 22});
    ExHttpServerLabel = captioned<QLabel>(HttpServerGB, "ExHttpServerLabel",
                                          "Cfg Server Path:", {190, 120, 140, 22});
    ExHttpServerEdiit = edit(HttpServerGB, "ExHttpServerEdiit", QString(), {340, 118, 256, 25});

    PnpServerGB = captioned<QGroupBox>(this, "PnpServerGB", "PNP Server", {10, 190, 610, 130});
    MyPnpServerIpLabel =
        captioned<QLabel>(PnpServerGB, "MyPnpServerIpLabel", "Multicast IP:", {16, 30, 110, 22});
    MyPnpServerIpEdiit = edit(PnpServerGB, "MyPnpServerIpEdiit", "224.0.1.75", {130, 28, 150, 25});
    MyPnpServerPortLabel =
        captioned<QLabel>(PnpServerGB, "MyPnpServerPortLabel", "Port:", {292, 30, 40, 22});
    MyPnpServerPortEdit = edit(PnpServerGB, "MyPnpServerPortEdit", "5060", {340, 28, 90, 25});
    PnpModeMacRb =
        captioned<QRadioButton>(PnpServerGB, "PnpModeMacRb", "MAC Mode", {16, 80, 150, 22});
    PnpModeMacRb->setChecked(true);
    PnpModePinRb =
        captioned<QRadioButton>(PnpServerGB, "PnpModePinRb", "PIN Mode", {190, 80, 150, 22});
    MyPnpServerControlBtn =
        captioned<QPushButton>(PnpServerGB, "MyPnpServerControlBtn", "Start", {500, 28, 96, 59});

    SettingsGB = captioned<QGroupBox>(this, "SettingsGB", "Settings", {630, 10, 600, 130});
    LangOptLabel = captioned<QLabel>(SettingsGB, "LangOptLabel", "Language:", {16, 30, 150, 22});
    LangOptCB = control<QComboBox>(SettingsGB, "LangOptCB", {170, 28, 220, 25});
    LangOptCB->setEditable(true);
    LangConfirmButton =
        captioned<QPushButton>(SettingsGB, "LangConfirmButton", "Change", {400, 27, 96, 27});
    ReservedLogFileAmountLabel = captioned<QLabel>(SettingsGB, "ReservedLogFileAmountLabel",
                                                   "Log files kept:", {16, 72, 150, 22});
    LogSettingCB = control<QComboBox>(SettingsGB, "LogSettingCB", {170, 70, 100, 25});
    LogSettingCB->setEditable(true);

    connect(HttpServerControlButton, &QPushButton::clicked, this,
            Guarded([this] { HttpServerControlButtonClick(); }));
    connect(MyPnpServerControlBtn, &QPushButton::clicked, this,
            Guarded([this] { MyPnpServerControlBtnClick(); }));
    connect(LangConfirmButton, &QPushButton::clicked, this,
            Guarded([this] { LangConfirmButtonClick(); }));
}

void ServerPage::FillLogSetting(int count) {
    LogSettingCB->clear();
    LogSettingCB->addItems({"0", "3", "5", "10"});
    int selected = -1;
    for (int i = 0; i < LogSettingCB->count() && selected < 0; ++i)
        if (ReadLeadingInt(LogSettingCB->itemText(i)) == count)
            selected = i;
    if (selected < 0) {
        LogSettingCB->addItem(QString::number(count));
        selected = LogSettingCB->count() - 1;
    }
    LogSettingCB->setCurrentIndex(selected);
}

void ServerPage::ServerTabShow() {
    if (shown_)
        return;
    shown_ = true;
    fillInterfaceList();
    fillLanguageList();
    readSettings();
    ReservedLogFileAmountLabel->setToolTip(ctx_.Translate("LLogSettingHint"));
}

void ServerPage::fillInterfaceList() {
    std::vector<InterfaceRow> rows;
    ReadInterfaceTable(&rows);
    for (const InterfaceRow& row : rows) {
        const QString text = row.AddressText();
        if (text != "127.0.0.1")
            InterfaceForServerCB->addItem(text);
    }
    if (InterfaceForServerCB->count() > 0)
        InterfaceForServerCB->setCurrentIndex(0);
}

void ServerPage::fillLanguageList() {
    LangOptCB->clear();
    LangOptCB->addItems(ctx_.localization->ListLanguages());
    const int current = LangOptCB->findText(ctx_.localization->CurrentName(),
                                            Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (current >= 0)
        LangOptCB->setCurrentIndex(current);
    else
        LangOptCB->setEditText(ctx_.localization->CurrentName());
}

void ServerPage::readSettings() {
    // One pass over each section; a key that stands twice takes its last value.
    const SettingsStore& s = *ctx_.settings;
    for (const auto& [key, value] : s.SectionEntries(Setting::HttpMode.section)) {
        if (key == Setting::HttpMode.key)
            (ReadLeadingInt(value) != 0 ? HttpServerExRb : HttpServerBuiltinRb)->setChecked(true);
        else if (key == Setting::HttpBuiltInPort.key)
            MyHttpServerPort->setText(value);
        else if (key == Setting::HttpExPath.key)
            ExHttpServerEdiit->setText(value);
    }
    for (const auto& [key, value] : s.SectionEntries(Setting::PnpMode.section)) {
        if (key == Setting::PnpMode.key)
            (ReadLeadingInt(value) != 0 ? PnpModePinRb : PnpModeMacRb)->setChecked(true);
        else if (key == Setting::PnpGroup.key)
            MyPnpServerIpEdiit->setText(value);
        else if (key == Setting::PnpPort.key)
            MyPnpServerPortEdit->setText(value);
    }
}

void ServerPage::ServerTabExit() {
    SettingsStore& s = *ctx_.settings;
    s.Write(Setting::HttpMode, HttpServerExRb->isChecked() ? "1" : "0");
    s.Write(Setting::HttpBuiltInPort, MyHttpServerPort->text());
    s.Write(Setting::HttpExPath, ExHttpServerEdiit->text());
    s.Write(Setting::PnpMode, PnpModePinRb->isChecked() ? "1" : "0");
    s.Write(Setting::PnpGroup, MyPnpServerIpEdiit->text());
    s.Write(Setting::PnpPort, MyPnpServerPortEdit->text());
    s.Write(Setting::LogTotalCount, LogSettingCB->currentText());
}

void ServerPage::HttpServerControlButtonClick() {}

void ServerPage::MyPnpServerControlBtnClick() {}

void ServerPage::LangConfirmButtonClick() {
    if (!ctx_.localization->ChangeLanguage(LangOptCB->currentText(), ctx_.settings))
        return;
    ReservedLogFileAmountLabel->setToolTip(ctx_.Translate("LLogSettingHint"));
}
