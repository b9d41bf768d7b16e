#include "batch/BatchFileForm.h"

#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"

#include <gtest/gtest.h>

namespace {

struct Form {
    const char* name;
    BatchFormat format;
    bool scrambled, encrypted;
    QByteArray (*writer)(const ParameterSet&);
};

const Form kForms[] = {
    {"bin", BatchFormat::Bin, false, false, [](const ParameterSet& s) { return BuildBinText(s); }},
    {"scrambled", BatchFormat::Bin, true, false,
     [](const ParameterSet& s) { return ScrambleBinText(BuildBinText(s)); }},
    {"xml", BatchFormat::Xml, false, false,
     [](const ParameterSet& s) { return PrintXmlConfig(s); }},
    {"encrypted", BatchFormat::Xml, false, true,
     [](const ParameterSet& s) { return EncryptedXmlBytes(PrintXmlConfig(s), "a1b2"); }},
};

BatchJob jobFor(const Form& f) {
    BatchJob job;
    job.format = f.format;
    job.scrambled = f.scrambled;
    job.xmlEncrypted = f.encrypted;
    job.xmlKey = "a1b2";
    return job;
}

ParameterSet templateSet() {
    ParameterSet s;
    s.Set(-3, "negative");
    s.Set(2, "admin & <co>");
    s.Set(35, "{$username.line.1}");
    s.Set(36, "");
    s.Set(237, "{$cfg_srv_path}");
    s.Set(8000, "{$admin_pass}");
    return s;
}

TEST(BatchFileForm, GivesTheWritersBytesForEveryRowValue) {
    const QByteArray values[] = {
        "alice",
        "",
        "a<b>&c",
        "\"quoted\" 'apos'",
        "  spaced\ttab ",
        "line\nbreak\r",
        "&P9=split",
        "\xC3\xA9t\xC3\xA9",
        "{$username.line.1}",
        "&amp;",
        QByteArray("ctl\x01\x1f") + '\0' + "nul\xef\xbf\xbe\xff",  // what XML cannot hold
        "cr\r\n",
    };
    for (const Form& f : kForms) {
        ParameterSet base = templateSet();
        base.Set(40, "fixed\x02");  // not a column: its loss is in every file
        const BatchFileForm form(jobFor(f), base, {35, 8000, -3, 35});
        EXPECT_TRUE(form.Prepared()) << f.name;
        for (const QByteArray& v : values) {
            ParameterSet row = base;
            row.Set(35, v);
            row.Set(8000, v + "2");
            row.Set(-3, v);
            XmlLosses losses, writerLosses;
            EXPECT_EQ(form.Bytes(row, &losses), f.writer(row)) << f.name << " " << v.constData();
            if (f.format == BatchFormat::Xml)
                PrintXmlConfig(row, &writerLosses);
            EXPECT_EQ(XmlLossText(losses), XmlLossText(writerLosses)) << f.name;
        }
        EXPECT_EQ(form.Bytes(base), f.writer(base)) << f.name;
    }
}

TEST(BatchFileForm, ASetHoldingAMarkerIsFormedWhole) {
    for (const Form& f : kForms) {
        ParameterSet base = templateSet();
        base.Set(9, "x" + BatchSlotMarker(0) + "y");
        const BatchFileForm form(jobFor(f), base, {35});
        EXPECT_FALSE(form.Prepared()) << f.name;
        ParameterSet row = base;
        row.Set(35, "alice");
        EXPECT_EQ(form.Bytes(row), f.writer(row)) << f.name;
    }
}

TEST(BatchFileForm, NoVaryingParameterGivesTheWholeSet) {
    for (const Form& f : kForms) {
        const BatchFileForm form(jobFor(f), templateSet(), {});
        EXPECT_EQ(form.Bytes(templateSet()), f.writer(templateSet())) << f.name;
    }
}

}  // namespace
