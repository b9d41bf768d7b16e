#pragma once

#include "discovery/DiscoveryView.h"

#include <QPointer>
#include <functional>

class IpAddressGrid;
class QAbstractButton;
class QLabel;
class QTimer;

// The discovery driver's view on the Devices Online page's controls: DiscoverProgressLabel,
// DDButton, DDStopTimer and IpAddressGrid. Captions are the language texts of their keys.
class DevicesOnlineView : public DiscoveryView {
  public:
    using Translator = std::function<QString(const QString& key)>;

    DevicesOnlineView(QLabel* progressLabel, QAbstractButton* button, QTimer* stopTimer,
                      IpAddressGrid* grid, Translator translate);

    void ShowCaptions(const QString& progressKey, const QString& buttonKey) override;
    void SetButtonEnabled(bool enabled) override;
    void SetStopTimer(bool on, int intervalMs) override;
    void ResetDevices() override;
    void DeviceAdded(int number, const Tag_DevInfo& device) override;
    void DeviceChanged(int number, const Tag_DevInfo& device) override;
    void RepaintDevices() override;
    void SetSweepFinished(bool finished) override;

  private:
    QPointer<QLabel> progressLabel_;
    QPointer<QAbstractButton> button_;
    QPointer<QTimer> stopTimer_;
    QPointer<IpAddressGrid> grid_;
    Translator translate_;
};
