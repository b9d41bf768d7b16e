#pragma once

#include "discovery/DiscoveryView.h"

#include <QStringList>
#include <map>

// A discovery view that keeps what it was told: captions, button, timer and the grid's rows.
class RecordingView : public DiscoveryView {
  public:
    void ShowCaptions(const QString& progressKey, const QString& buttonKey) override {
        progress << progressKey;
        buttons << buttonKey;
    }
    void SetButtonEnabled(bool on) override { enabled = on; }
    void SetStopTimer(bool on, int ms) override {
        timerOn = on;
        if (on)
            timerInterval = ms;
    }
    void ResetDevices() override {
        rows.clear();
        rowCount = 2;
        ++resets;
    }
    void DeviceAdded(int number, const Tag_DevInfo& d) override {
        rows[number] = d;
        rowCount = number + 1;
    }
    void DeviceChanged(int number, const Tag_DevInfo& d) override { rows[number] = d; }
    void RepaintDevices() override { ++repaints; }
    void SetSweepFinished(bool f) override { sweepFinished = f; }

    QStringList progress;
    QStringList buttons;
    bool enabled = true;
    bool timerOn = false;
    int timerInterval = 0;
    std::map<int, Tag_DevInfo> rows;
    int rowCount = 2;
    int resets = 0;
    int repaints = 0;
    bool sweepFinished = false;
};
