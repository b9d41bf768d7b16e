// A batch to the built-in server, then the files fetched by a real HTTP client.
#include "batch/BatchRun.h"
#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/CfgTemplate.h"
#include "config/XmlFile.h"
#include "servers/MyHttpServer.h"

#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {

TEST(BatchToServer, CurlFetchesEveryFileByteForByteAsTheBatchWroteIt) {
    TempDir work;
    const QString cfgFolder = work.file("server/htdocs/cfg");
    QDir().mkpath(cfgFolder);
    RecordingDialogs dialogs;
    CfgTemplate tpl(&dialogs, nullptr);
    ASSERT_TRUE(tpl.LoadBinTemplate(SourcePath("data/models/X100/$devCfg.bin")));
    const ParameterSet before = tpl.Parameters();

    BatchTable table;
    ASSERT_EQ(table.LoadCsv("MAC,{$username.line.1},{$cfg_srv_path}\r\n"
                            "02E5D2AABBCC,alice,http://10.0.0.1/a\r\n"
                            "02e5d2aabbcd,bob,http://10.0.0.1/b\r\n",
                            BatchMode::Mac),
              "");

    MyHttpServer server(work.file("server/htdocs"));
    server.Start(0, "127.0.0.1");
    const QString base = QString("http://127.0.0.1:%1/cfg/").arg(server.Port());

    const struct {
        BatchFormat format;
        bool scrambled, encrypted;
        QString suffix;
    } forms[] = {{BatchFormat::Bin, false, false, ""},
                 {BatchFormat::Bin, true, false, ""},
                 {BatchFormat::Xml, false, false, ".xml"},
                 {BatchFormat::Xml, false, true, ".xml"}};
    for (const auto& form : forms) {
        BatchJob job;
        job.format = form.format;
        job.scrambled = form.scrambled;
        job.xmlEncrypted = form.encrypted;
        job.folder = cfgFolder;
        job.destination = BatchDestination::BuiltInServer;
        const BatchOutcome outcome = RunBatch(table, tpl, job, dialogs, nullptr);
        ASSERT_EQ(outcome.written.size(), 2);
        EXPECT_TRUE(dialogs.messages().isEmpty());
        EXPECT_TRUE(tpl.Parameters() == before);

        const struct {
            const char* mac;
            const char* user;
            const char* url;
        } rows[] = {{"02e5d2aabbcc", "alice", "http://10.0.0.1/a"},
                    {"02e5d2aabbcd", "bob", "http://10.0.0.1/b"}};
        for (const auto& row : rows) {
            ParameterSet expected = before;
            expected.Set(1004, row.user);
            expected.Set(400, row.url);
            const QByteArray bytes =
                form.format == BatchFormat::Bin
                    ? (form.scrambled ? ScrambleBinText(BuildBinText(expected))
                                      : BuildBinText(expected))
                    : (form.encrypted ? EncryptedXmlBytes(PrintXmlConfig(expected), "")
                                      : PrintXmlConfig(expected));
            const QString name = QString("cfg") + row.mac + form.suffix;
            EXPECT_EQ(ReadFileBytes(cfgFolder + "/" + name), bytes) << name.toStdString();
            QByteArray fetched;
            ASSERT_EQ(RunProgram("curl", {"-sS", "--fail", base + name}, &fetched), 0)
                << name.toStdString();
            EXPECT_EQ(fetched, bytes) << name.toStdString();
        }
    }
    server.Stop();
}

}  // namespace
