// orvo-cli encrypt: the bulk encryption of the Tools page without the window.
#include "cli/Cli.h"

#include "app/Notices.h"
#include "config/BulkEncrypt.h"
#include "config/CfgCrypto.h"

#include <QFileInfo>

namespace {

bool isFailure(int status) {
    return status != ToolStatusOk && status != ToolStatusSkipped;
}

int encrypt(const CliArgs& args) {
    // Without --key the default key, as the page uses once its question is answered OK; an
    // empty --key skips the XML files, as the worker does without a key.
    const QString key = args.has("key") ? args.value("key").trimmed() : QString(kDefaultXmlKey);
    const QString keyProblem = CliXmlKeyProblem(key.toUtf8());
    if (!keyProblem.isEmpty())
        return CliUsageError("encrypt", "--key: " + keyProblem);
    const QString outDir = args.value("out").trimmed();
    const QFileInfo dirInfo(outDir);
    if (!dirInfo.isDir() || !dirInfo.isWritable())
        return CliFail(outDir, "is not an existing writable folder");

    bool failed = false;
    for (const QString& path : args.positional()) {
        const CfgEncryptOutcome outcome =
            EncryptCfgFile(path, outDir, key.toUtf8(), args.has("overwrite"));
        const int status = ToolStatusOf(outcome);
        failed = failed || isFailure(status);
        CliPrint(path + '\t' + QString::number(status) + '\t' + CfgEncryptOutcomeWords(outcome));
    }
    return failed ? 1 : 0;
}

const CliRegistration encryptCommand(
    "encrypt",
    {"Scramble bin files and encrypt plain XML files into a folder, as the Tools page does; "
     "one line per file: path, status code, status.",
     {{"out", "DIR", "the existing folder the files are written to", true},
      {"key", "KEY",
       "the XML key, at most 16 hexadecimal digits (default 02E5D220170412; empty: XML files "
       "are skipped)",
       false, true},
      {"overwrite", {}, "replace files that exist in DIR"}},
     "FILE...",
     encrypt});

}  // namespace
