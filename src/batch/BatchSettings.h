#pragma once

#include "batch/BatchRun.h"

#include <QString>

class SettingsStore;

// The [BATCH] keys of the Cfg Batch page. Switches read 0 as the first choice and any other
// number as the second; they are written as "0" or "1".
struct BatchPageSettings {
    BatchMode mode = BatchMode::Mac;        // mode: CsvModeRadioButton / PinModeRadioButton
    BatchFormat format = BatchFormat::Bin;  // format: BatchFileFormatBinRB / ...XmlRB
    int cfgEncryptItem = 0;                 // cfg_encrypt: item 0 or 1 of CfgToEncryptCB
    bool xmlEncrypt = false;                // xml_encrpyt: XmlCfgEncryptChkB
    QString xmlKey;                         // xml_encrypt_key: XmlCfgEncryptKeyEdit
};

BatchPageSettings ReadBatchPageSettings(const SettingsStore& settings);
// The key is written trimmed of blanks; an item other than 1 is written as 0.
void WriteBatchPageSettings(SettingsStore& settings, const BatchPageSettings& page);
