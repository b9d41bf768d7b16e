#include "protection/ui/ProtectionGroup.h"

#include "app/Dialogs.h"
#include "app/InterfaceTable.h"
#include "page/PageControls.h"
#include "protection/AddressAllowList.h"
#include "protection/TlsCertificate.h"

namespace {

const char kPemFilter[] = "PEM files (*.pem *.crt *.cer *.key)|*.pem;*.crt;*.cer;*.key|All files|*";

// "AB:CD:..." in two lines of 16 bytes each.
QString twoLines(const QByteArray& fingerprint) {
    return QString::fromLatin1(fingerprint.left(47) + "\n" + fingerprint.mid(48));
}

}  // namespace

ProtectionGroup::ProtectionGroup(const AppContext& ctx, QWidget* parent)
    : QGroupBox("Protection", parent), ctx_(ctx) {
    setObjectName("ProtectionGB");
    HttpsChkB = MakeCaptioned<QCheckBox>(this, "HttpsChkB", "HTTPS", {16, 28, 150, 22});
    TlsCertLabel =
        MakeCaptioned<QLabel>(this, "TlsCertLabel", "Certificate (PEM):", {16, 62, 150, 22});
    TlsCertEdit = MakeControl<QLineEdit>(this, "TlsCertEdit", {170, 60, 370, 25});
    TlsCertBtn = MakeCaptioned<QPushButton>(this, "TlsCertBtn", "...", {550, 59, 36, 27});
    TlsKeyLabel = MakeCaptioned<QLabel>(this, "TlsKeyLabel", "Key (PEM):", {16, 96, 150, 22});
    TlsKeyEdit = MakeControl<QLineEdit>(this, "TlsKeyEdit", {170, 94, 370, 25});
    TlsKeyBtn = MakeCaptioned<QPushButton>(this, "TlsKeyBtn", "...", {550, 93, 36, 27});
    TlsFingerprintLabel =
        MakeCaptioned<QLabel>(this, "TlsFingerprintLabel", "SHA-256:", {16, 130, 150, 22});
    TlsFingerprintText = MakeCaptioned<QLabel>(
        this, "TlsFingerprintText", "made at the first start with HTTPS", {170, 130, 416, 36});
    TlsFingerprintText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    TlsFingerprintText->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                                Qt::TextSelectableByKeyboard);
    AllowListLabel =
        MakeCaptioned<QLabel>(this, "AllowListLabel", "Allowed clients:", {16, 176, 150, 22});
    AllowListEdit = MakeControl<QLineEdit>(this, "AllowListEdit", {170, 174, 290, 25});
    AllowOwnNetworksBtn = MakeCaptioned<QPushButton>(this, "AllowOwnNetworksBtn", "Own networks",
                                                     {470, 173, 116, 27});
    AuthUserLabel = MakeCaptioned<QLabel>(this, "AuthUserLabel", "User:", {16, 210, 150, 22});
    AuthUserEdit = MakeControl<QLineEdit>(this, "AuthUserEdit", {170, 208, 130, 25});
    AuthPasswordLabel =
        MakeCaptioned<QLabel>(this, "AuthPasswordLabel", "Password:", {316, 210, 100, 22});
    AuthPasswordEdit = MakeControl<QLineEdit>(this, "AuthPasswordEdit", {420, 208, 166, 25});
    AuthPasswordEdit->setEchoMode(QLineEdit::Password);

    connect(AllowOwnNetworksBtn, &QPushButton::clicked, this,
            [this] { AllowOwnNetworksBtnClick(); });
    connect(TlsCertBtn, &QPushButton::clicked, this, [this] { TlsCertBtnClick(); });
    connect(TlsKeyBtn, &QPushButton::clicked, this, [this] { TlsKeyBtnClick(); });
}

ServerProtection ProtectionGroup::Protection() const {
    ServerProtection p;
    p.https = HttpsChkB->isChecked();
    p.certFile = TlsCertEdit->text().trimmed();
    p.keyFile = TlsKeyEdit->text().trimmed();
    p.allowText = AllowListEdit->text().trimmed();
    p.user = AuthUserEdit->text();
    p.password = AuthPasswordEdit->text();
    return p;
}

void ProtectionGroup::SetProtection(const ServerProtection& p) {
    HttpsChkB->setChecked(p.https);
    TlsCertEdit->setText(p.certFile);
    TlsKeyEdit->setText(p.keyFile);
    AllowListEdit->setText(p.allowText);
    AuthUserEdit->setText(p.user);
    AuthPasswordEdit->setText(p.password);
}

void ProtectionGroup::SetServersRunning(bool http, bool tftp) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{HttpsChkB, TlsCertEdit, TlsCertBtn, TlsKeyEdit, TlsKeyBtn,
                                         AuthUserEdit, AuthPasswordEdit})
        w->setEnabled(!http);
    AllowListEdit->setEnabled(!http && !tftp);
    AllowOwnNetworksBtn->setEnabled(!http && !tftp);
}

void ProtectionGroup::ShowFingerprint(const QString& tlsFolder) {
    const QString chosen = TlsCertEdit->text().trimmed();
    const QByteArray fingerprint =
        CertificateFingerprint(chosen.isEmpty() ? tlsFolder + "/server.crt" : chosen);
    TlsFingerprintText->setText(fingerprint.isEmpty() ? ctx_.Translate("TlsFingerprintText")
                                                      : twoLines(fingerprint));
}

void ProtectionGroup::Translate() {
    HttpsChkB->setToolTip(ctx_.Translate("LHttpsHint"));
    TlsFingerprintText->setToolTip(ctx_.Translate("LTlsFingerprintHint"));
    AllowListEdit->setToolTip(ctx_.Translate("LAllowListHint"));
    AuthUserEdit->setToolTip(ctx_.Translate("LAuthHint"));
}

void ProtectionGroup::AllowOwnNetworksBtnClick() {
    std::vector<InterfaceRow> rows;
    ReadInterfaceTable(&rows);
    AllowListEdit->setText(AddressAllowList::OwnNetworksText(rows));
}

void ProtectionGroup::TlsCertBtnClick() {
    const QString path = ctx_.dialogs->openFile(kPemFilter);
    if (!path.isEmpty())
        TlsCertEdit->setText(path);
}

void ProtectionGroup::TlsKeyBtnClick() {
    const QString path = ctx_.dialogs->openFile(kPemFilter);
    if (!path.isEmpty())
        TlsKeyEdit->setText(path);
}
