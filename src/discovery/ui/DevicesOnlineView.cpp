#include "discovery/ui/DevicesOnlineView.h"

#include "discovery/ui/IpAddressGrid.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>

DevicesOnlineView::DevicesOnlineView(QLabel* progressLabel, QAbstractButton* button,
                                     QTimer* stopTimer, IpAddressGrid* grid, Translator translate)
    : progressLabel_(progressLabel),
      button_(button),
      stopTimer_(stopTimer),
      grid_(grid),
      translate_(std::move(translate)) {}

void DevicesOnlineView::ShowCaptions(const QString& progressKey, const QString& buttonKey) {
    if (progressLabel_)
        progressLabel_->setText(translate_(progressKey));
    if (button_)
        button_->setText(translate_(buttonKey));
}

void DevicesOnlineView::SetButtonEnabled(bool enabled) {
    if (button_)
        button_->setEnabled(enabled);
}

void DevicesOnlineView::SetStopTimer(bool on, int intervalMs) {
    if (!stopTimer_)
        return;
    if (on)
        stopTimer_->start(intervalMs);
    else
        stopTimer_->stop();
}

void DevicesOnlineView::ResetDevices() {
    if (!grid_)
        return;
    grid_->RowSelection().Clear();
    grid_->DiscardFilterBoxes();
    grid_->ResetRows();
}

void DevicesOnlineView::DeviceAdded(int number, const Tag_DevInfo& device) {
    if (grid_)
        grid_->ShowNewDevice(number, device);
}

void DevicesOnlineView::DeviceChanged(int number, const Tag_DevInfo& device) {
    if (grid_)
        grid_->UpdateDevice(number, device);
}

void DevicesOnlineView::RepaintDevices() {
    if (grid_)
        grid_->Table()->viewport()->update();
}

void DevicesOnlineView::SetSweepFinished(bool finished) {
    if (grid_)
        grid_->SetSweepFinished(finished);
}
