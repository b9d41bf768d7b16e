// orvo-cli's command line itself: help, version, usage errors (exit 2) and the README's
// command lines, run against the built program.
#include "config/XmlFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    const QStringList serve = {"serve", "--root", out, "--port", "0", "--bind", "127.0.0.1"};
    const QString serveHint = "; see 'orvo-cli serve --help'\n";
    const QString emptyAuth = dir.write("colon", ":\n");
    const QString blankFile = dir.write("blank", "");
    const QStringList autofill =
        batch +
        QStringList{"--format", "bin", "--out", out, "--settings", dir.file("s.ini"), "--autofill"};
    const QString autofillLine =
        "orvo-cli batch: --autofill expects ADDR:PORT: an IPv4 address or host name, and a port "
        "from 1025 to 65525 (with the settings' TFTP protocol: 1 to 65535)" +
        hint;
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
        // Options that exclude each other or go together.
        {batch + QStringList{"--format", "xml", "--scramble", "--out", out},
         "orvo-cli batch: --scramble applies to --format bin only" + hint},
        {batch + QStringList{"--format", "bin", "--autofill", "10.0.0.5:6000", "--out", out},
         "orvo-cli batch: --autofill and --settings go together" + hint},
        {{"convert", "--to", "xml", "--key", "ab", tpl, dir.file("x.xml")},
         "orvo-cli convert: --key applies to --to xml-encrypted only; see 'orvo-cli convert "
         "--help'\n"},
        {{"status", "--record", dir.file("r.sqlite"), "--failed", "--unknown"},
         "orvo-cli status: --pending, --failed, --unknown and --seen exclude each other; see "
         "'orvo-cli "
         "status --help'\n"},
        {{"serve", "--root", out, "--port", "0", "--tls-cert", tpl},
         "orvo-cli serve: --tls-cert and --tls-key go together; see 'orvo-cli serve --help'\n"},
        // A value given but empty or blank names nothing: never the permissive case.
        {batch + QStringList{"--format", "bin", "--out", ""},
         "orvo-cli batch: option '--out' is empty" + hint},
        {batch + QStringList{"--format", "xml", "--xml-key", " ", "--out", out},
         "orvo-cli batch: option '--xml-key' is empty" + hint},
        {{"serve", "--root", out, "--port", "0", "--bind", ""},
         "orvo-cli serve: option '--bind' is empty; see 'orvo-cli serve --help'\n"},
        {{"serve", "--root", out, "--port", "0", "--record", ""},
         "orvo-cli serve: option '--record' is empty; see 'orvo-cli serve --help'\n"},
        {{"discover", "--iface", ""},
         "orvo-cli discover: option '--iface' is empty; see 'orvo-cli discover --help'\n"},
        // Values that are not of their option's form.
        {batch + QStringList{"--format", "xml", "--xml-key", "secret", "--out", out},
         "orvo-cli batch: --xml-key: the key holds characters that are not hexadecimal digits "
         "(0-9, a-f): it would end at the first of them" +
             hint},
        {{"convert", "--to", "xml-encrypted", "--key", "0a1bzz", tpl, dir.file("x.xml")},
         "orvo-cli convert: --key: the key holds characters that are not hexadecimal digits "
         "(0-9, a-f): it would end at the first of them; see 'orvo-cli convert --help'\n"},
        {{"encrypt", "--key", "hello", "--out", out, tpl},
         "orvo-cli encrypt: --key: the key holds characters that are not hexadecimal digits "
         "(0-9, a-f): it would end at the first of them; see 'orvo-cli encrypt --help'\n"},
        {{"encrypt", "--key", "0123456789abcdef0", "--out", out, tpl},
         "orvo-cli encrypt: --key: the key is longer than 16 characters; see 'orvo-cli encrypt "
         "--help'\n"},
        {{"convert", "--to", "pdf", tpl, dir.file("x.pdf")},
         "orvo-cli convert: --to must be one of bin, bin-scrambled, xml, xml-encrypted; see "
         "'orvo-cli convert --help'\n"},
        {{"batch", "--template", tpl, "--csv", csv, "--mode", "cfg", "--format", "bin", "--out",
          out},
         "orvo-cli batch: --mode must be mac or pin" + hint},
        {{"serve", "--root", out, "--port", "99999"},
         "orvo-cli serve: --port must be a number from 0 (any free port) to 65535; see 'orvo-cli "
         "serve --help'\n"},
        {{"serve", "--root", out, "--tftp-port", "69", "--bind", "nowhere"},
         "orvo-cli serve: --bind nowhere is not an IP address; see 'orvo-cli serve --help'\n"},
        {{"cert", "--address", "10.0.0.2", "--out", out, "--type", "dsa"},
         "orvo-cli cert: --type must be ec or rsa; see 'orvo-cli cert --help'\n"},
        {{"cert", "--address", ",", "--out", out},
         "orvo-cli cert: --address names no address; see 'orvo-cli cert --help'\n"},
        {{"pnp", "--iface", "lo", "--url", "http://x/cfg"},
         "orvo-cli pnp: --iface lo is not a dotted IPv4 address; see 'orvo-cli pnp --help'\n"},
        {{"provision", "--url", "http://x/cfg", "127.0.0.1"},
         "orvo-cli provision: 127.0.0.1 is not ADDR=MAC (dotted IPv4, six pairs joined by - or "
         ":); see 'orvo-cli provision --help'\n"},
        // Given but empty credentials or allow-lists never switch the protection off.
        {serve + QStringList{"--auth", ":"},
         "orvo-cli serve: --auth gives neither a user name nor a password" + serveHint},
        {serve + QStringList{"--auth", ""}, "orvo-cli serve: option '--auth' is empty" + serveHint},
        {serve + QStringList{"--auth-file", emptyAuth},
         "orvo-cli serve: --auth-file " + emptyAuth + " gives neither a user name nor a password" +
             serveHint},
        {serve + QStringList{"--auth-file", blankFile},
         "orvo-cli serve: --auth-file " + blankFile + " expects USER:PASSWORD" + serveHint},
        {serve + QStringList{"--allow", ""},
         "orvo-cli serve: option '--allow' is empty" + serveHint},
        {serve + QStringList{"--allow", " "},
         "orvo-cli serve: option '--allow' is empty" + serveHint},
        {serve + QStringList{"--allow", ","},
         "orvo-cli serve: --allow names no address or network" + serveHint},
        {serve + QStringList{"--allow", " , ,"},
         "orvo-cli serve: --allow names no address or network" + serveHint},
        {serve + QStringList{"--allow", "10.0.0.0/8,300.1.1.1"},
         "orvo-cli serve: --allow: LAllowListError1: not an IPv4 address or network (a.b.c.d or "
         "a.b.c.d/n): 300.1.1.1" +
             serveHint},
        // Certificate names as the allow-list takes addresses; host names must be names.
        {{"cert", "--address", "300.1.1.1", "--out", out},
         "orvo-cli cert: --address: 300.1.1.1 is neither an IPv4 or IPv6 address nor a host "
         "name; see 'orvo-cli cert --help'\n"},
        {{"cert", "--address", "10.0.0.2,no such host", "--out", out},
         "orvo-cli cert: --address: no such host is neither an IPv4 or IPv6 address nor a host "
         "name; see 'orvo-cli cert --help'\n"},
        // The autofilled server: an address or host name and a port by the window's rule.
        {autofill + QStringList{"127.0.0.1:99999"}, autofillLine},
        {autofill + QStringList{"no such host:abc"}, autofillLine},
        {autofill + QStringList{"10.0.0.5"}, autofillLine},
        {autofill + QStringList{"10.0.0.5:"}, autofillLine},
        {autofill + QStringList{":6000"}, autofillLine},
        {autofill + QStringList{"10.0.0.5:0"}, autofillLine},
        {autofill + QStringList{"300.0.0.5:6000"}, autofillLine},
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
    // A value may begin with a dash (folders named so; a key holds hexadecimal digits only).
    const struct {
        QStringList args;
        QString folder;
    } cases[] = {
        {{"--out", "-o1"}, "-o1"},
        {{"--out=-o2"}, "-o2"},
        {{"-out", "--o3"}, "--o3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QDir(dir.path()).mkdir(c.folder);
        const CliRun r = Cli(QStringList{"encrypt"} + c.args + QStringList{in}, dir.path());
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(QFileInfo::exists(dir.file(c.folder + "/in.bin")));
    }
    // A key may be empty: the default key.
    const QString out = dir.file("out.xml");
    const CliRun empty = Cli({"convert", "--to", "xml-encrypted", "--key", "", in, out});
    EXPECT_EQ(empty.code, 0) << empty.err.toStdString();
    ParameterSet params;
    params.Set(2, "admin");
    EXPECT_EQ(ReadFileBytes(out), EncryptedXmlBytes(PrintXmlConfig(params), ""));
    // After "--" a file may begin with a dash.
    const QString dashed = dir.write("-d.bin", "Flag=5678&CheckSum=0&P2=admin&end");
    const CliRun r = Cli({"show", "--", "-d.bin"}, dir.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "kind: bin\nP2=admin\n");
}

// Every orvo-cli line of the README's shell blocks, with its placeholders as the values: each
// parses (the placeholder values are then refused, exit 2, or the work fails on them, exit 1,
// but no option is unknown, lacks its value or is given twice), and together they name every
// option each command has.
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
            EXPECT_TRUE(r.code == 1 || r.code == 2) << r.code << r.err.toStdString();
            static const QRegularExpression parserError(
                ": (unknown option|missing value|unexpected value|unexpected argument|missing "
                "option|missing [A-Z]|option '[^']*' is (given more than once|empty))");
            EXPECT_FALSE(parserError.match(QString::fromUtf8(r.err)).hasMatch())
                << r.err.toStdString();
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
            // --help and --debug are every command's.
            EXPECT_TRUE(flag == "--help" || flag == "--debug" || mentioned[name].contains(flag))
                << flag.toStdString();
        }
    }
}

}  // namespace
