#include "config/BulkEncrypt.h"

#include "app/AtomicFile.h"
#include "app/Notices.h"
#include "config/BinFile.h"
#include "config/CfgCrypto.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// True when path names the same file as the open descriptor (same device and inode).
bool isSameFile(const QString& path, int fd) {
    struct stat a {
    }, b{};
    return ::stat(QFile::encodeName(path).constData(), &a) == 0 && ::fstat(fd, &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

QByteArray scrambledCopy(const QByteArray& input, qsizetype size) {
    const qsizetype zero = input.indexOf('\0');
    QByteArray out = ScrambleBinText(zero < 0 ? input : input.left(zero));
    const qsizetype total = size + kScrambledBinTrailerSize;
    if (out.size() < total)
        out.append(QByteArray(total - out.size(), '\0'));
    return out;
}

QByteArray encryptedCopy(const QByteArray& input, qsizetype size, QByteArray key) {
    QByteArray buffer(input);
    buffer.append(QByteArray((size / 16 + 1) * 16 - input.size(), '\0'));
    if (key.size() % 2 != 0)
        key += '0';
    return EncryptXmlBuffer(buffer, key);
}

}  // namespace

int ToolStatusOf(CfgEncryptOutcome outcome) {
    switch (outcome) {
        case CfgEncryptOutcome::Scrambled:
        case CfgEncryptOutcome::Encrypted:
            return ToolStatusOk;
        case CfgEncryptOutcome::OpenFailed:
        case CfgEncryptOutcome::Empty:
            return ToolStatusLoadErr;
        case CfgEncryptOutcome::InvalidFormat:
            return ToolStatusInvalidFormat;
        case CfgEncryptOutcome::OutputExists:
        case CfgEncryptOutcome::NoKey:
            return ToolStatusSkipped;
        case CfgEncryptOutcome::EncryptFailed:
            return ToolStatusEncryptFailed;
        case CfgEncryptOutcome::OutputIsInput:
        case CfgEncryptOutcome::WriteFailed:
            break;
    }
    return ToolStatusSaveFailed;
}

const char* CfgEncryptOutcomeWords(CfgEncryptOutcome outcome) {
    switch (outcome) {
        case CfgEncryptOutcome::Scrambled:
            return "scrambled";
        case CfgEncryptOutcome::Encrypted:
            return "encrypted";
        case CfgEncryptOutcome::OpenFailed:
            return "cannot be read";
        case CfgEncryptOutcome::Empty:
            return "is empty";
        case CfgEncryptOutcome::InvalidFormat:
            return "is neither a bin nor a plain XML configuration file";
        case CfgEncryptOutcome::OutputExists:
            return "skipped: the output exists";
        case CfgEncryptOutcome::NoKey:
            return "skipped: XML file and no key";
        case CfgEncryptOutcome::OutputIsInput:
            return "not written: the output would replace the input";
        case CfgEncryptOutcome::EncryptFailed:
            return "encryption failed";
        case CfgEncryptOutcome::WriteFailed:
            break;
    }
    return "the output cannot be written";
}

QString CfgEncryptOutputPath(const QString& inputPath, const QString& outputDir) {
    return QDir(outputDir).filePath(QFileInfo(inputPath).fileName());
}

CfgEncryptOutcome EncryptCfgFile(const QString& inputPath, const QString& outputDir,
                                 const QByteArray& key, bool overwrite) {
    // Only regular files: opening a pipe or a device could block or never end.
    const QFileInfo info(inputPath);
    if (!info.isFile())
        return CfgEncryptOutcome::OpenFailed;
    QFile input(inputPath);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return CfgEncryptOutcome::OpenFailed;
    const qsizetype size = input.size();

    const QString outputPath = CfgEncryptOutputPath(inputPath, outputDir);
    const bool outputExists = QFileInfo::exists(outputPath);
    if (outputExists && !overwrite)
        return CfgEncryptOutcome::OutputExists;

    const ConfigFileKind kind = DetectConfigFileKind(input);
    if (kind == ConfigFileKind::Unreadable)
        return size == 0 ? CfgEncryptOutcome::Empty : CfgEncryptOutcome::OpenFailed;
    if (kind == ConfigFileKind::Other)
        return CfgEncryptOutcome::InvalidFormat;
    if (kind == ConfigFileKind::Xml && key.isEmpty())
        return CfgEncryptOutcome::NoKey;
    if (outputExists && isSameFile(outputPath, input.handle()))
        return CfgEncryptOutcome::OutputIsInput;

    QByteArray data(size, Qt::Uninitialized);
    const qint64 got = input.seek(0) ? input.read(data.data(), size) : -1;
    if (got < 0)
        return CfgEncryptOutcome::OpenFailed;
    data.truncate(got);
    input.close();

    const QByteArray out =
        kind == ConfigFileKind::Bin ? scrambledCopy(data, size) : encryptedCopy(data, size, key);
    if (out.isEmpty())
        return CfgEncryptOutcome::EncryptFailed;
    if (!WriteFileAtomically(outputPath, out))
        return CfgEncryptOutcome::WriteFailed;
    return kind == ConfigFileKind::Bin ? CfgEncryptOutcome::Scrambled
                                       : CfgEncryptOutcome::Encrypted;
}
