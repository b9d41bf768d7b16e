#pragma once

#include <QByteArray>
#include <QString>

// What became of one file of a bulk encryption run.
enum class CfgEncryptOutcome {
    Scrambled,      // bin input, scrambled copy written
    Encrypted,      // plain XML input, encrypted copy written
    OpenFailed,     // the input cannot be opened or its size read
    Empty,          // the input reads as empty
    InvalidFormat,  // neither a bin file nor a plain XML file (scrambled and encrypted files too)
    OutputExists,   // the output exists and overwriting is off
    NoKey,          // XML input with an empty key
    OutputIsInput,  // the output path names the input file itself; nothing was written
    EncryptFailed,  // the cipher could not run
    WriteFailed,    // the output cannot be written; an existing output stays as it was
};

// The row status (ToolStatus* of app/Notices.h) of an outcome.
int ToolStatusOf(CfgEncryptOutcome outcome);
// The outcome in a few English words.
const char* CfgEncryptOutcomeWords(CfgEncryptOutcome outcome);

// The path a bulk run writes for an input: the output folder + "/" + the input's file name.
QString CfgEncryptOutputPath(const QString& inputPath, const QString& outputDir);

// Copies one configuration file into outputDir under its own name: a bin file scrambled
// (input up to its first zero byte, trailer, zero bytes to input size + 14), a plain XML file
// zero-filled to the smallest multiple of 16 above its size and encrypted under key (an odd
// key gets a "0"). The output is replaced atomically; the input is never written.
CfgEncryptOutcome EncryptCfgFile(const QString& inputPath, const QString& outputDir,
                                 const QByteArray& key, bool overwrite);
