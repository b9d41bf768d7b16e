#include "batch/BatchSettings.h"

#include "app/SettingsStore.h"

#include <gtest/gtest.h>

namespace {

TEST(BatchSettings, ReadSwitchesAsFirstOrSecondChoice) {
    const struct {
        const char* ini;
        BatchMode mode;
        BatchFormat format;
        int item;
        bool encrypt;
        const char* key;
    } cases[] = {
        {"[BATCH]\r\nmode=1\r\nformat=1\r\ncfg_encrypt=1\r\nxml_encrpyt=1\r\nxml_encrypt_key="
         "ab12\r\n",
         BatchMode::Pin, BatchFormat::Xml, 1, true, "ab12"},
        {"[BATCH]\r\nmode=0\r\nformat=0\r\ncfg_encrypt=0\r\nxml_encrpyt=0\r\nxml_encrypt_key=\r\n",
         BatchMode::Mac, BatchFormat::Bin, 0, false, ""},
        {"[BATCH]\r\nmode=7abc\r\nformat=x\r\ncfg_encrypt=2\r\nxml_encrpyt= 1\r\n", BatchMode::Pin,
         BatchFormat::Bin, 1, true, ""},
        {"[OTHER]\r\nmode=1\r\n", BatchMode::Mac, BatchFormat::Bin, 0, false, ""},
    };
    for (const auto& c : cases) {
        SettingsStore store;
        store.LoadText(c.ini);
        const BatchPageSettings page = ReadBatchPageSettings(store);
        EXPECT_EQ(page.mode, c.mode) << c.ini;
        EXPECT_EQ(page.format, c.format) << c.ini;
        EXPECT_EQ(page.cfgEncryptItem, c.item) << c.ini;
        EXPECT_EQ(page.xmlEncrypt, c.encrypt) << c.ini;
        EXPECT_EQ(page.xmlKey, c.key) << c.ini;
    }
}

TEST(BatchSettings, WriteReplacesTheKeyLinesAndTrimsTheKey) {
    SettingsStore store;
    store.LoadText(
        "; batch page\r\n[BATCH]\r\ncfg_encrypt=0\r\nmode=0\r\nformat=0\r\nxml_encrpyt=0\r\n"
        "xml_encrypt_key=\r\n\r\n[PNO]\r\np_cfg_server_path=237\r\n");
    BatchPageSettings page;
    page.mode = BatchMode::Pin;
    page.format = BatchFormat::Xml;
    page.cfgEncryptItem = 1;
    page.xmlEncrypt = true;
    page.xmlKey = "  0a1b  ";
    WriteBatchPageSettings(store, page);
    EXPECT_EQ(store.Text(),
              "; batch page\r\n[BATCH]\r\ncfg_encrypt=1\r\nmode=1\r\nformat=1\r\nxml_encrpyt=1\r\n"
              "xml_encrypt_key=0a1b\r\n\r\n[PNO]\r\np_cfg_server_path=237\r\n");
    page.xmlKey = "0a1b";
    const BatchPageSettings back = ReadBatchPageSettings(store);
    EXPECT_EQ(back.mode, page.mode);
    EXPECT_EQ(back.format, page.format);
    EXPECT_EQ(back.cfgEncryptItem, 1);
    EXPECT_TRUE(back.xmlEncrypt);
    EXPECT_EQ(back.xmlKey, "0a1b");
}

}  // namespace
