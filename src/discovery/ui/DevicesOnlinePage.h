#pragma once

#include "page/AppContext.h"
#include "discovery/ui/IpAddressGrid.h"
#include "record/RecordEvents.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

class DevicesOnlineView;
class DiscoveryDriver;
struct SelectedDevice;

// The "Devices Online" page: the network and MAC filter of a discovery run, the provisioning
// mode, and the device grid with its popup menu.
class DevicesOnlinePage : public QWidget {
    Q_OBJECT
  public:
    DevicesOnlinePage(const AppContext& ctx, QWidget* parent);
    ~DevicesOnlinePage() override;

    ::IpAddressGrid* IpAddressGrid;
    QLabel* SelfAddressLabel;
    QComboBox* SelfAddressComboBox;
    QGroupBox* MacFilterGB;
    QRadioButton* MacFilterPredefinedRb;
    QComboBox* MacFilterPredefinedCb;
    QRadioButton* MacFilterInputRb;
    QLineEdit* MacFilterInputEdit;
    QGroupBox* ProvisionModeGB;
    QRadioButton* ProvisionModeMacRb;
    QRadioButton* ProvisionModePinRb;
    QPushButton* DDButton;
    QLabel* DiscoverProgressLabel;
    QTimer* DDStopTimer;
    QMenu* IpAddrGridPopupMenu;
    QAction* ProvisionPopupBtn;
    QAction* UpgradePopupBtn;
    QAction* RefreshPopupBtn;

    // Page shown; the first time it lists the local networks and reads [MAC FILTER] and
    // [PROVISION MODE].
    void DevicesOnlineTabShow();
    // Page left: [MAC FILTER] mode and input, [PROVISION MODE] mode into the settings.
    void DevicesOnlineTabExit();

    void DDButtonClick();
    void DDStopTimerTimer();
    void ProvisionPopupBtnClick();
    void UpgradePopupBtnClick();
    void RefreshPopupBtnClick();

    DiscoveryDriver& Driver() { return *driver_; }

  private:
    void fillNetworkList();
    void readSettings();
    // Provision and Upgrade: the same NOTIFYs, recorded as the kind given.
    void provision(RecordEvent::Kind recordKind);
    // The selected grid rows in selection order, with their address and MAC cells.
    std::vector<SelectedDevice> selectedDevices() const;

    const AppContext& ctx_;
    bool shown_ = false;
    std::unique_ptr<DevicesOnlineView> view_;
    std::unique_ptr<DiscoveryDriver> driver_;
};
