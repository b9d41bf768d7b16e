#pragma once

#include "page/AppContext.h"
#include "protection/ServerProtection.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// The group "Protection" of the servers page: HTTPS with its certificate and key, the address
// allow-list and the credentials of the built-in servers, each off until set.
class ProtectionGroup : public QGroupBox {
    Q_OBJECT
  public:
    ProtectionGroup(const AppContext& ctx, QWidget* parent);

    QCheckBox* HttpsChkB;
    QLabel* TlsCertLabel;
    QLineEdit* TlsCertEdit;
    QPushButton* TlsCertBtn;
    QLabel* TlsKeyLabel;
    QLineEdit* TlsKeyEdit;
    QPushButton* TlsKeyBtn;
    QLabel* TlsFingerprintLabel;
    // The SHA-256 fingerprint of the certificate in use, in two lines; selectable.
    QLabel* TlsFingerprintText;
    QLabel* AllowListLabel;
    QLineEdit* AllowListEdit;
    QPushButton* AllowOwnNetworksBtn;
    QLabel* AuthUserLabel;
    QLineEdit* AuthUserEdit;
    QLabel* AuthPasswordLabel;
    QLineEdit* AuthPasswordEdit;

    ServerProtection Protection() const;
    void SetProtection(const ServerProtection& protection);
    // HTTPS, the certificate and the credentials stay as they are while the HTTP server runs,
    // the allow-list while either server runs.
    void SetServersRunning(bool http, bool tftp);
    // The fingerprint of the certificate that HTTPS uses (the chosen one, or the self-signed
    // pair in tlsFolder), or its idle text (its language entry) while there is none.
    void ShowFingerprint(const QString& tlsFolder);
    // The tool-tips, in the language in force.
    void Translate();

    // Fills the allow-list with the networks of the computer's own addresses.
    void AllowOwnNetworksBtnClick();
    // A file dialog for the certificate or the key.
    void TlsCertBtnClick();
    void TlsKeyBtnClick();

  private:
    const AppContext& ctx_;
};
