#pragma once

#include "discovery/DeviceTable.h"

#include <QString>

// What the discovery driver shows on the Devices Online page (or on a console): the captions
// of DiscoverProgressLabel and DDButton, the button's state, DDStopTimer and the device grid.
// Main thread only.
class DiscoveryView {
  public:
    virtual ~DiscoveryView() = default;

    // DiscoverProgressLabel and DDButton show the language texts of these keys.
    virtual void ShowCaptions(const QString& progressKey, const QString& buttonKey) = 0;
    virtual void SetButtonEnabled(bool enabled) = 0;
    // DDStopTimer on with the interval, or off.
    virtual void SetStopTimer(bool on, int intervalMs) = 0;

    // The grid back to the header and the placeholder row; its row selection emptied and its
    // filter boxes discarded.
    virtual void ResetDevices() = 0;
    // A new device: grid row `number` shows it, the grid has number + 1 rows.
    virtual void DeviceAdded(int number, const Tag_DevInfo& device) = 0;
    // The values of a device changed: the row that shows it is written again.
    virtual void DeviceChanged(int number, const Tag_DevInfo& device) = 0;
    virtual void RepaintDevices() = 0;
    // The sweep of the current run has ended (or was stopped): the grid may offer its filters.
    virtual void SetSweepFinished(bool finished) = 0;
};
