// orvo-cli's command line itself: help, version, usage errors (exit 2) and the README's
// command lines, run against the built program.
#include "config/XmlFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

struct CliRun {
    int code = -1;
    QByteArray out, err;
};

CliRun Cli(const QStringList& args, const QString& workDir = {}) {
    CliRun r;
    r.code = RunProgram(BuiltProgram("orvo-cli"), args, &r.out, &r.err, workDir);
    return r;
}

const QStringList kCommands = {"batch",     "cert",   "convert", "discover", "encrypt", "pnp",
                               "provision", "record", "serve",   "show",     "status"};

TEST(CliCommandLine, HelpFormsPrintUsageOnStdoutAndExitZero) {
    const struct {
        QStringList args;
        QByteArray usage;
    } cases[] = {
        {{"--help"}, "usage: orvo-cli COMMAND"},
        {{"-h"}, "usage: orvo-cli COMMAND"},
        {{"help"}, "usage: orvo-cli COMMAND"},
        {{"help", "batch"}, "usage: orvo-cli batch --template FILE --csv FILE"},
        {{"batch", "--help"}, "usage: orvo-cli batch --template FILE --csv FILE"},
        {{"batch", "-h"}, "usage: orvo-cli batch --template FILE --csv FILE"},
        // Help wins over what else the line holds.
        {{"batch", "--xml-kee", "x", "--help"}, "usage: orvo-cli batch "},
        {{"encrypt", "--out", "d", "--help"}, "usage: orvo-cli encrypt --out DIR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.out.startsWith(c.usage)) << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
    EXPECT_EQ(Cli({"--list-options"}).out, (kCommands.join('\n') + '\n').toUtf8());
    const CliRun all = Cli({"--help"});
    for (const QString& name : kCommands) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(all.out.contains("  orvo-cli " + name.toUtf8() + ' '));
        for (const QStringList& args : {QStringList{"help", name}, QStringList{name, "--help"}}) {
            const CliRun r = Cli(args);
            EXPECT_EQ(r.code, 0);
            EXPECT_TRUE(r.out.startsWith("usage: orvo-cli " + name.toUtf8() + ' '));
            // Each option the command takes is explained.
            const QStringList options = QString::fromUtf8(Cli({"--list-options", name}).out)
                                            .split('\n', Qt::SkipEmptyParts);
            EXPECT_FALSE(options.isEmpty());
            for (const QString& option : options)
                EXPECT_TRUE(r.out.contains("\n  " + option.toUtf8() + "  "))
                    << option.toStdString();
        }
    }
}

TEST(CliCommandLine, VersionIsOneLine) {
    const CliRun r = Cli({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "orvo-cli 1.3.3\n");
    EXPECT_TRUE(r.err.isEmpty());
}

// A usage error refuses the whole line before any work: exit 2, one line on stderr naming the
// problem with a hint to the help, nothing on stdout and no file written.
TEST(CliCommandLine, UsageErrorsExitTwoWithOneLineAndDoNoWork) {
    TempDir dir;
    const QString tpl = dir.write("t.bin", "Flag=5678&CheckSum=0&P2=admin&P35={$u}&end");
    const QString csv = dir.write("a.csv", "MAC,{$u}\r\n02E5D2AABBCC,alice\r\n");
    const QString out = dir.file("out");
    QDir().mkpath(out);
    const QStringList batch = {"batch", "--template", tpl, "--csv", csv, "--mode", "mac"};
    const QString hint = "; see 'orvo-cli batch --help'\n";
    const struct {
        QStringList args;
        QString line;
    } cases[] = {
        // One letter wrong must not write plain XML without the key.
        {batch + QStringList{"--format", "xml", "--xml-kee", "secret", "--out", out},
         "orvo-cli batch: unknown option 'xml-kee'" + hint},
        {batch + QStringList{"--format", "xml", "-xml-kee", "secret", "--out", out},
         "orvo-cli batch: unknown option 'xml-kee'" + hint},
        {batch + QStringList{"--format", "xml", "--out", out, "--xml-key"},
         "orvo-cli batch: missing value after '--xml-key'" + hint},
        {batch + QStringList{"--format", "bin", "--scramble=no", "--out", out},
         "orvo-cli batch: unexpected value after '--scramble'" + hint},
        {batch + QStringList{"--format", "bin", "--out", out, "--out", dir.path()},
         "orvo-cli batch: option '--out' is given more than once" + hint},
        {batch + QStringList{"--format", "bin"}, "orvo-cli batch: missing option '--out'" + hint},
        {batch + QStringList{"--format", "bin", "--out", out, "extra"},
         "orvo-cli batch: unexpected argument 'extra'" + hint},
        {{"serve", "--root", dir.file("missing"), "--port", "0", "--recrod", "x"},
         "orvo-cli serve: unknown option 'recrod'; see 'orvo-cli serve --help'\n"},
        {{"serve", "--root", out},
         "orvo-cli serve: missing option '--port' or '--tftp-port'; see 'orvo-cli serve --help'\n"},
        {{"convert", "--to"},
         "orvo-cli convert: missing value after '--to'; see 'orvo-cli convert --help'\n"},
        {{"convert", "--to", "xml", tpl},
         "orvo-cli convert: missing OUT; see 'orvo-cli convert --help'\n"},
        {{"show"}, "orvo-cli show: missing FILE; see 'orvo-cli show --help'\n"},
        {{"show", tpl, csv},
         "orvo-cli show: unexpected argument '" + csv + "'; see 'orvo-cli show --help'\n"},
        {{"encrypt", tpl},
         "orvo-cli encrypt: missing option '--out'; see 'orvo-cli encrypt --help'\n"},
        {{"encrypt", "--out", out},
         "orvo-cli encrypt: missing FILE...; see 'orvo-cli encrypt --help'\n"},
        {{"discover", "--iface"},
         "orvo-cli discover: missing value after '--iface'; see 'orvo-cli discover --help'\n"},
        {{"discover"},
         "orvo-cli discover: missing option '--iface'; see 'orvo-cli discover --help'\n"},
        {{"pnp", "--iface", "127.0.0.1"},
         "orvo-cli pnp: missing option '--url'; see 'orvo-cli pnp --help'\n"},
        {{"provision", "127.0.0.1=0a-1b-2c-3d-4e-5f"},
         "orvo-cli provision: missing option '--url'; see 'orvo-cli provision --help'\n"},
        {{"provision", "--url", "u"},
         "orvo-cli provision: missing ADDR=MAC...; see 'orvo-cli provision --help'\n"},
        {{"frobnicate"}, "orvo-cli: unknown command 'frobnicate'; see 'orvo-cli --help'\n"},
        {{"help", "frobnicate"}, "orvo-cli: unknown command 'frobnicate'; see 'orvo-cli --help'\n"},
        {{"--frob"}, "orvo-cli: unknown option 'frob'; see 'orvo-cli --help'\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, c.line.toUtf8());
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_TRUE(QDir(out).isEmpty());
    }
    const CliRun none = Cli({});
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(none.err.startsWith("usage: orvo-cli COMMAND")) << none.err.toStdString();
}

TEST(CliCommandLine, ValuesMayBeEmptyOrBeginWithADash) {
    TempDir dir;
    const QString in = dir.write("in.bin", "Flag=5678&CheckSum=0&P2=admin&end");
    const struct {
        QStringList args;
        QByteArray key;
    } cases[] = {
        {{"--key", "-k1"}, "-k1"},
        {{"--key=-k2"}, "-k2"},
        {{"--key", ""}, ""},
        {{"-key", "--k3"}, "--k3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const QString out = dir.file("out.xml");
        QFile::remove(out);
        const CliRun r =
            Cli(QStringList{"convert", "--to", "xml-encrypted"} + c.args + QStringList{in, out});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        ParameterSet params;
        params.Set(2, "admin");
        EXPECT_EQ(ReadFileBytes(out), EncryptedXmlBytes(PrintXmlConfig(params), c.key));
    }
    // After "--" a file may begin with a dash.
    const QString dashed = dir.write("-d.bin", "Flag=5678&CheckSum=0&P2=admin&end");
    const CliRun r = Cli({"show", "--", "-d.bin"}, dir.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "kind: bin\nP2=admin\n");
}

// Every orvo-cli line of the README's shell blocks, with its placeholders as the values: each
// parses (the work then fails on the placeholder values, with exit 1), and together they name
// every option each command has.
TEST(CliCommandLine, TheReadmesCommandLinesParse) {
    QFile readme(SourcePath("README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll()).replace("\\\n", " ");
    static const QRegularExpression block("```sh\n(.*?)```",
                                          QRegularExpression::DotMatchesEverythingOption);
    std::map<QString, QSet<QString>> mentioned;
    int lines = 0;
    for (auto blocks = block.globalMatch(text); blocks.hasNext();) {
        for (QString line : blocks.next().captured(1).split('\n')) {
            if (!line.startsWith("orvo-cli "))
                continue;
            line = line.section('#', 0, 0).remove('[').remove(']').remove("...");
            QStringList args = line.split(' ', Qt::SkipEmptyParts).mid(1);
            SCOPED_TRACE(line.toStdString());
            TempDir work;
            const CliRun r = Cli(args, work.path());
            EXPECT_EQ(r.code, 1) << r.err.toStdString();
            EXPECT_FALSE(r.err.contains("--help")) << r.err.toStdString();
            EXPECT_TRUE(QDir(work.path()).isEmpty());
            for (const QString& arg : args)
                if (arg.startsWith("--"))
                    mentioned[args[0]] << arg;
            ++lines;
        }
    }
    EXPECT_GE(lines, static_cast<int>(kCommands.size()));
    for (const QString& name : kCommands) {
        SCOPED_TRACE(name.toStdString());
        const QStringList options =
            QString::fromUtf8(Cli({"--list-options", name}).out).split('\n', Qt::SkipEmptyParts);
        for (const QString& option : options) {
            const QString flag = option.section(' ', 0, 0);
            EXPECT_TRUE(flag == "--help" || mentioned[name].contains(flag)) << flag.toStdString();
        }
    }
}

}  // namespace
