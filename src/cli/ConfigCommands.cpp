// orvo-cli show and convert: configuration files read and written with the program's own
// readers and writers.
#include "cli/Cli.h"

#include "app/FileProblem.h"
#include "config/BinFile.h"
#include "config/XmlFile.h"

#include <QFileInfo>

namespace {

const char* kindName(ConfigFileKind kind) {
    switch (kind) {
        case ConfigFileKind::Bin:
            return "bin";
        case ConfigFileKind::Xml:
            return "xml";
        case ConfigFileKind::Other:
            return "other";
        default:
            return "unreadable";
    }
}

// "cannot be read: " and why: what keeps the file from being opened, or that it is empty.
QString unreadable(const QString& path) {
    const QString problem = FileReadProblem(path);
    if (problem.startsWith("cannot be read"))
        return problem;
    return "cannot be read: " + (problem.isEmpty() ? "is empty" : problem);
}

// Reads a bin or XML file; on failure gives the problem in words.
bool readConfig(const QString& path, ConfigFileKind kind, ParameterSet& params, QString* problem) {
    if (kind == ConfigFileKind::Bin) {
        switch (ReadBinFile(path, params)) {
            case BinReadStatus::Ok:
                return true;
            case BinReadStatus::OpenFailed:
                *problem = unreadable(path);
                return false;
            case BinReadStatus::NotBin:
                *problem = "does not begin with \"Flag=\"";
                return false;
            case BinReadStatus::NoPairs:
                *problem = "holds no parameter (no \"&P\")";
                return false;
        }
    }
    if (kind == ConfigFileKind::Xml) {
        switch (ReadXmlFile(path, params)) {
            case XmlReadStatus::Ok:
                return true;
            case XmlReadStatus::Unparsable:
                *problem = "is not well-formed XML";
                return false;
            case XmlReadStatus::NoConfig:
                *problem = "has no \"config\" element as the root's first child";
                return false;
        }
    }
    *problem = kind == ConfigFileKind::Unreadable
                   ? unreadable(path)
                   : "is neither a bin nor an XML configuration file";
    return false;
}

int show(const CliArgs& args) {
    const QString path = args.positional()[0];
    const ConfigFileKind kind = DetectConfigFileKind(path);
    CliPrint(QByteArray("kind: ") + kindName(kind));
    if (kind == ConfigFileKind::Unreadable)
        return CliFail(path, unreadable(path));
    if (kind == ConfigFileKind::Other)
        return 0;
    ParameterSet params;
    QString problem;
    if (!readConfig(path, kind, params, &problem))
        return CliFail(path, problem);
    for (const auto& [p, value] : params)
        CliPrint("P" + QByteArray::number(p) + "=" + value);
    return 0;
}

int convert(const CliArgs& args) {
    const QString to = args.value("to");
    static const QStringList forms = {"bin", "bin-scrambled", "xml", "xml-encrypted"};
    if (!forms.contains(to))
        return CliUsageError("convert", "--to must be one of " + forms.join(", "));
    const QByteArray key = args.value("key").toUtf8();
    if (args.has("key") && to != "xml-encrypted")
        return CliUsageError("convert", "--key applies to --to xml-encrypted only");
    const QString keyProblem = CliXmlKeyProblem(key);
    if (!keyProblem.isEmpty())
        return CliUsageError("convert", "--key: " + keyProblem);

    const QString in = args.positional()[0];
    const QString out = args.positional()[1];
    ParameterSet params;
    QString problem;
    if (!readConfig(in, DetectConfigFileKind(in), params, &problem))
        return CliFail(in, problem);
    if (QFileInfo(out).isDir())
        return CliFail(out, "is a folder");

    bool ok = false;
    XmlLosses losses;
    if (to == "bin")
        ok = WriteBinFile(out, params, BinScrambling::Plain);
    else if (to == "bin-scrambled")
        ok = WriteBinFile(out, params, BinScrambling::Scrambled);
    else if (to == "xml")
        ok = WriteXmlFile(out, params, &losses);
    else
        ok = WriteEncryptedXmlFile(out, params, key, &losses);
    if (!ok)
        return CliFail(out, "cannot be written");
    if (!losses.empty())
        CliWarn(out, XmlLossText(losses));
    return 0;
}

const CliRegistration showCommand(
    "show", {"Print a configuration file's kind (bin, xml, other or unreadable), then its "
             "parameters as P<n>=<value> lines.",
             {},
             "FILE",
             show});
const CliRegistration convertCommand(
    "convert",
    {"Write the parameters of a bin or XML configuration file IN in another form to OUT.",
     {{"to", "bin|bin-scrambled|xml|xml-encrypted", "the form of OUT", true},
      {"key", "KEY",
       "for xml-encrypted: the key (at most 16 hexadecimal digits; default key if empty)", false,
       true}},
     "IN OUT",
     convert});

}  // namespace
