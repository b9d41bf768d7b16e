#pragma once

#include <QString>
#include <cstdint>

// The record of DeviceFoundNotice: a live host of the sweep whose MAC matched the filter.
struct DeviceFoundRecord {
    uint32_t address = 0;  // host byte order
    QString mac;           // "0a-1b-2c-3d-4e-5f"
};

// The device information record of DeviceInfoNotice and RefreshResultNotice.
struct DeviceInfoRecord {
    QString vendor;
    QString model;
    QString identity;  // a MAC text; not set by the discovery probe
    QString version;
    int32_t row = 0;
    // The discovery run whose probe sent the record; the driver drops records of older runs.
    uint32_t run = 0;
    // False when the probe's answer held no device information (no answer, no User-Agent):
    // the notice then stands for "no record" and only counts the device as answered.
    bool hasInfo = true;
};

// The marker for a vendor, model or version that is not known.
inline const QString kUnknown = QStringLiteral("unknow");
