#include "batch/BatchSettings.h"

#include "app/SettingsStore.h"

BatchPageSettings ReadBatchPageSettings(const SettingsStore& settings) {
    BatchPageSettings page;
    page.mode = settings.ReadInt(Setting::BatchMode) != 0 ? BatchMode::Pin : BatchMode::Mac;
    page.format = settings.ReadInt(Setting::BatchFormat) != 0 ? BatchFormat::Xml : BatchFormat::Bin;
    page.cfgEncryptItem = settings.ReadInt(Setting::BatchCfgEncrypt) != 0 ? 1 : 0;
    page.xmlEncrypt = settings.ReadInt(Setting::BatchXmlEncrypt) != 0;
    page.xmlKey = settings.Read(Setting::BatchXmlEncryptKey);
    return page;
}

void WriteBatchPageSettings(SettingsStore& settings, const BatchPageSettings& page) {
    settings.Write(Setting::BatchMode, page.mode == BatchMode::Pin ? "1" : "0");
    settings.Write(Setting::BatchFormat, page.format == BatchFormat::Xml ? "1" : "0");
    settings.Write(Setting::BatchCfgEncrypt, page.cfgEncryptItem == 1 ? "1" : "0");
    settings.Write(Setting::BatchXmlEncrypt, page.xmlEncrypt ? "1" : "0");
    settings.Write(Setting::BatchXmlEncryptKey, page.xmlKey.trimmed());
}
