// The supplied runtime data works together: each supplied template with the sample CSV gives a
// batch that leaves no placeholder unfilled, and autofill with the supplied settings fills the
// templates' server paths.
#include "app/SettingsStore.h"
#include "batch/BatchRun.h"
#include "batch/Placeholders.h"
#include "config/BinFile.h"
#include "config/CfgTemplate.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

const char* const kTemplates[] = {"models/X100/$devCfg.bin", "models/X210/$devCfg.bin",
                                  "default/$cfg.bin"};

TEST(ShippedData, TheSampleCsvFillsEveryPlaceholderOfEachTemplate) {
    SettingsStore settings;
    ASSERT_TRUE(settings.LoadFile(SourcePath("data/ini/$default.ini")));
    BatchTable table;
    ASSERT_EQ(table.LoadCsv(ReadFileBytes(SourcePath("data/examples/phones.csv")), BatchMode::Mac),
              "");
    for (const char* name : kTemplates) {
        for (const bool autofill : {false, true}) {
            SCOPED_TRACE(std::string(name) + (autofill ? " with autofill" : ""));
            RecordingDialogs dialogs;
            CfgTemplate tpl(&dialogs, nullptr);
            ASSERT_TRUE(tpl.LoadTemplate(SourcePath(QString("data/") + name)));
            TempDir out;
            BatchJob job;
            job.folder = out.path();
            job.autofill = autofill;
            job.serverAddress = "10.0.0.5";
            job.portText = "6001";
            job.pno = &settings;
            const BatchOutcome o = RunBatch(table, tpl, job, dialogs, nullptr);
            EXPECT_TRUE(dialogs.messages().isEmpty());
            EXPECT_TRUE(o.unfilled.empty()) << UnfilledPlaceholderList(o.unfilled).toStdString();
            ASSERT_EQ(o.written.size(), 2);

            ParameterSet file;
            ASSERT_EQ(ReadBinFile(out.file("cfg02e5d2000001"), file), BinReadStatus::Ok);
            for (const auto& [p, value] : file)
                EXPECT_FALSE(value.contains("{$")) << "P" << p << "=" << value.toStdString();
            EXPECT_EQ(file.Value(1004), "201");
            const QByteArray server = autofill ? "http://10.0.0.5:6001" : "http://192.168.1.2:6000";
            EXPECT_EQ(file.Value(400), server + "/cfg");
            EXPECT_EQ(file.Value(403), server + "/fw");
            EXPECT_FALSE(file.Contains(0));
        }
    }
}

// A "|" text in a placeholder is part of its name and never applied as a default: the supplied
// templates hold no such form, so that none suggests one.
TEST(ShippedData, NoSuppliedPlaceholderHasADefaultForm) {
    for (const char* name : kTemplates) {
        ParameterSet params;
        ASSERT_EQ(ReadBinFile(SourcePath(QString("data/") + name), params), BinReadStatus::Ok);
        for (const auto& [p, value] : params)
            EXPECT_FALSE(IsPlaceholder(value) && value.contains('|'))
                << name << ": P" << p << "=" << value.toStdString();
    }
}

}  // namespace
