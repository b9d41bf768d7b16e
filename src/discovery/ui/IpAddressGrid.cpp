#include "discovery/ui/IpAddressGrid.h"

IpAddressGrid::IpAddressGrid(QWidget* parent) : QTableWidget(parent) {
    setObjectName("IpAddressGrid");
    setColumnCount(7);
    setRowCount(2);
}
