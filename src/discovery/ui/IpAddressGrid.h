#pragma once

#include <QTableWidget>

// The devices grid of the Devices Online page.
class IpAddressGrid : public QTableWidget {
    Q_OBJECT
  public:
    explicit IpAddressGrid(QWidget* parent = nullptr);
};
