#include "batch/BatchRun.h"

#include "app/AtomicFile.h"
#include "app/Dialogs.h"
#include "app/MyLog.h"
#include "app/Numbers.h"
#include "app/SettingsStore.h"
#include "batch/BatchFileForm.h"
#include "config/CfgTemplate.h"
#include "record/PhoneKey.h"
#include "record/ProvisioningRecord.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <openssl/evp.h>
#include <sys/stat.h>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct Column {
    int column;
    PNumber p;
};

// Columns 2 and up whose header is the value of a parameter, except the autofilled ones. An
// empty header names no parameter.
std::vector<Column> mapColumns(const BatchTable& table, const ParameterSet& params,
                               const std::vector<PNumber>& autofilled) {
    std::vector<Column> map;
    for (int c = 2; c < table.ColumnCount(); ++c) {
        const QByteArray header = table.Cell(0, c).toUtf8();
        if (header.isEmpty())
            continue;
        const PNumber p = params.FindParameterByValue(header);
        if (p == -1 && params.Value(-1) != header)
            continue;
        if (std::find(autofilled.begin(), autofilled.end(), p) != autofilled.end())
            continue;
        map.push_back({c, p});
    }
    return map;
}

// Writes a row's file with the writers' reporting: "LCfgError3" when it cannot be written, and
// the editor's Save button disabled after it (after a failed encrypted XML write as well).
bool writeRow(CfgTemplate& tpl, Dialogs& dialogs, const BatchJob& job, const QString& path,
              const QByteArray& bytes, struct stat* written) {
    const bool ok = WriteFileAtomically(path, bytes, written);
    if (!ok)
        dialogs.messageKey("LCfgError3");
    const bool encrypted = job.format == BatchFormat::Xml && job.xmlEncrypted;
    if ((ok || encrypted) && tpl.setSaveEnabled)
        tpl.setSaveEnabled(false);
    return ok;
}

// What a row writes: nothing (no identifier), nothing but its message (an identifier that is
// no file name, in MAC mode no MAC), or its bytes to its path.
struct RowFile {
    enum class Kind { None, Refused, NotMac, Bytes };
    Kind kind = Kind::None;
    QString id;    // the row's identifier
    QString name;  // the file's name in the folder
    QString path;
    QByteArray bytes;
    QByteArray digest;  // SHA-256 of the bytes in hexadecimal, when the run is recorded
    XmlLosses losses;   // what the XML could not hold
    QString renamed;    // the identifier as the row spelt it, when the name differs
};

QByteArray sha256Hex(const QByteArray& bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.constData(), size_t(bytes.size()), md, &size, EVP_sha256(), nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(md), int(size)).toHex();
}

// The record's event for a row's file: its name below the output folder (below the document
// root for the built-in server), the row's MAC or PIN, the form and the version of the file.
RecordEvent batchEvent(const BatchJob& job, const RowFile& file, const struct stat& written) {
    RecordEvent e;
    e.kind = RecordEvent::Kind::Batch;
    e.phone = file.id.toUtf8();
    e.path =
        (job.destination == BatchDestination::BuiltInServer ? "cfg/" : "") + file.name.toUtf8();
    const bool xml = job.format == BatchFormat::Xml;
    e.format = xml ? "xml" : "bin";
    e.protection =
        xml ? (job.xmlEncrypted ? "encrypted" : "plain") : (job.scrambled ? "scrambled" : "plain");
    e.fileSize = file.bytes.size();
    e.digest = file.digest;
    e.fileInode = quint64(written.st_ino);
    e.fileMtimeNs = qint64(written.st_mtim.tv_sec) * 1000000000 + written.st_mtim.tv_nsec;
    return e;
}

// The rows' files formed on a second thread (values, text, scrambling or encryption) while this
// thread writes the ones before them, handed over in row order a few dozen at a time. The
// forming runs up to a few megabytes ahead, so that the writing seldom waits for it even when
// other work holds the cores. Without a second thread each row is formed when it is asked for.
class RowsAhead {
  public:
    using Make = std::function<RowFile(int row)>;

    RowsAhead(int rowCount, Make make) : rowCount_(rowCount), make_(std::move(make)) {
        try {
            thread_ = std::thread([this] { Produce(); });
        } catch (const std::system_error&) {
        }
    }
    ~RowsAhead() {
        if (!thread_.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    RowsAhead(const RowsAhead&) = delete;
    RowsAhead& operator=(const RowsAhead&) = delete;

    // The file of the next row (rows 1, 2, ... in turn). Rethrows what forming a row threw.
    RowFile Next() {
        if (!thread_.joinable())
            return make_(++made_);
        if (taken_ == current_.size()) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !ready_.empty() || error_; });
            if (ready_.empty())
                std::rethrow_exception(error_);
            current_ = std::move(ready_.front());
            ready_.pop_front();
            for (const RowFile& file : current_)
                readyBytes_ -= file.bytes.size();
            taken_ = 0;
            changed_.notify_all();
        }
        return std::move(current_[taken_++]);
    }

  private:
    static constexpr size_t kChunkRows = 32;
    static constexpr qsizetype kBytesAhead = 8 << 20;

    void Produce() {
        try {
            std::vector<RowFile> chunk;
            qsizetype chunkBytes = 0;
            for (int r = 1; r <= rowCount_; ++r) {
                chunk.push_back(make_(r));
                chunkBytes += chunk.back().bytes.size();
                if (chunk.size() < kChunkRows && r < rowCount_)
                    continue;
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(
                    lock, [this] { return stop_ || ready_.empty() || readyBytes_ < kBytesAhead; });
                if (stop_)
                    return;
                ready_.push_back(std::move(chunk));
                readyBytes_ += chunkBytes;
                chunk.clear();
                chunkBytes = 0;
                changed_.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            error_ = std::current_exception();
            changed_.notify_all();
        }
    }

    const int rowCount_;
    const Make make_;
    int made_ = 0;                  // without a second thread
    std::vector<RowFile> current_;  // the chunk being taken
    size_t taken_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<RowFile>> ready_;
    qsizetype readyBytes_ = 0;  // the bytes of the rows in ready_
    std::exception_ptr error_;
    bool stop_ = false;
    std::thread thread_;  // last: starts when the rest is there
};

}  // namespace

QString BatchFileIdentifier(BatchMode mode, const QString& identifier) {
    if (mode == BatchMode::Pin)
        return identifier;
    return QString::fromLatin1(PhoneOfMac(identifier.toUtf8()));
}

QString BatchFileName(BatchMode mode, BatchFormat format, const QString& identifier) {
    if (mode == BatchMode::Mac)
        return "cfg" + identifier + (format == BatchFormat::Xml ? ".xml" : "");
    return identifier + (format == BatchFormat::Xml ? ".xml" : ".cfg");
}

AutofillNumbers ReadAutofillNumbers(const SettingsStore& settings) {
    AutofillNumbers n;
    const auto read = [&](const SettingKey& key, bool* has, PNumber* p) {
        const std::optional<QString> value = settings.Find(key.section, key.key);
        *p = value ? ReadLeadingInt(*value) : 0;
        *has = *p > 0;
    };
    read(Setting::PnoUpgradeMode, &n.hasUpgradeMode, &n.upgradeMode);
    read(Setting::PnoCfgServerPath, &n.hasCfgPath, &n.cfgPath);
    read(Setting::PnoFwServerPath, &n.hasFwPath, &n.fwPath);
    return n;
}

QByteArray AutofillUrl(const QString& address, const QString& portText, const char* path,
                       const UrlAccess& access, ServerProtocol protocol) {
    return ConfigServerUrl(ServerSource::BuiltIn, address.toUtf8(),
                           QByteArray::number(ReadLeadingInt(portText.trimmed())), {}, protocol,
                           access, path);
}

QString BatchLogLine(const BatchJob& job) {
    QString line = "CFG BATCH: ";
    const bool toServer = job.destination == BatchDestination::BuiltInServer;
    if (job.format == BatchFormat::Bin) {
        line += "BIN format, ";
        if (job.scrambled)
            line += "Default Encrypt, ";
    } else {
        line += "XML format, ";
        if (toServer && job.xmlEncrypted)
            line += "Encrypted, ";
    }
    if (job.autofill)
        line += "Autofill Server Path, ";
    line += toServer ? "Batch to built-in server: " : "Batch to: ";
    return line + job.folder;
}

BatchOutcome RunBatch(const BatchTable& table, CfgTemplate& tpl, const BatchJob& job,
                      Dialogs& dialogs, MyLog* log, const BatchProgress& progress,
                      int progressIntervalMs) {
    BatchOutcome outcome;
    if (tpl.commitEditor)
        tpl.commitEditor();
    if (!QFileInfo(job.folder).isDir()) {
        dialogs.messageKey("LCfgError3");
        outcome.status = BatchOutcome::Status::NoFolder;
        return outcome;
    }
    if (job.autofill && job.serverAddress.trimmed().isEmpty()) {
        dialogs.messageText("No server address to autofill!");
        outcome.status = BatchOutcome::Status::NoServerAddress;
        return outcome;
    }

    ParameterSet& params = tpl.Parameters();
    const ParameterSet before = params;

    std::vector<PNumber> autofilled;
    if (job.autofill) {
        const AutofillNumbers n = job.pno ? ReadAutofillNumbers(*job.pno) : AutofillNumbers{};
        const auto fill = [&](bool has, PNumber p, const QByteArray& value) {
            if (!has)
                return;
            params.Set(p, value);
            autofilled.push_back(p);
        };
        fill(n.hasUpgradeMode, n.upgradeMode, "1");
        fill(n.hasCfgPath, n.cfgPath,
             AutofillUrl(job.serverAddress, job.portText, "/cfg", job.urlAccess, job.protocol));
        fill(n.hasFwPath, n.fwPath,
             AutofillUrl(job.serverAddress, job.portText, "/fw", job.urlAccess, job.protocol));
    }
    const std::vector<Column> columns = mapColumns(table, params, autofilled);
    std::vector<PNumber> varying;
    for (const Column& col : columns)
        varying.push_back(col.p);
    outcome.unfilled = FindUnfilledPlaceholders(params, varying);
    const BatchFileForm form(job, params, varying);

    const int rowCount = table.RowCount() - 1;
    // A row's values stay in the set until a later row's replace them: the forming thread
    // keeps its own copy of the set for that.
    ParameterSet rowParams = params;
    RowsAhead rows(rowCount, [&](int r) {
        RowFile file;
        for (const Column& col : columns)
            rowParams.Set(col.p, table.Cell(r, col.column).toUtf8());
        file.id = table.Cell(r, 1).trimmed().toLower();
        if (file.id.isEmpty())
            return file;
        // An identifier is a file name: a "/" would lead out of the folder.
        if (file.id.contains('/') || file.id.contains(QChar(0))) {
            file.kind = RowFile::Kind::Refused;
            file.path = job.folder + "/" + BatchFileName(job.mode, job.format, file.id);
            return file;
        }
        const QString named = BatchFileIdentifier(job.mode, file.id);
        if (named.isEmpty()) {
            file.kind = RowFile::Kind::NotMac;
            return file;
        }
        file.name = BatchFileName(job.mode, job.format, named);
        file.path = job.folder + "/" + file.name;
        file.kind = RowFile::Kind::Bytes;
        file.bytes = form.Bytes(rowParams, &file.losses);
        if (job.record)
            file.digest = sha256Hex(file.bytes);
        if (named != file.id) {
            file.renamed = file.id;
            file.id = named;
        }
        return file;
    });
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    for (int r = 1; r <= rowCount; ++r) {
        RowFile file = rows.Next();
        if (file.kind == RowFile::Kind::Refused) {
            dialogs.message(UiText::key("LCsvError9").addLiteral(file.id));
            outcome.refused << file.path;
        }
        if (file.kind == RowFile::Kind::NotMac) {
            outcome.notMacs << file.id;
            if (log)
                log->Write("CFG BATCH: Not a MAC address, no file written: " + file.id);
        }
        struct stat written {};
        if (file.kind == RowFile::Kind::Bytes &&
            writeRow(tpl, dialogs, job, file.path, file.bytes, job.record ? &written : nullptr)) {
            outcome.written << file.path;
            if (!file.renamed.isEmpty()) {
                outcome.renamed.push_back({file.renamed, file.name});
                if (log)
                    log->Write("CFG BATCH: MAC " + file.renamed + " written as " + file.name +
                               ", the name the phone asks for");
            }
            if (job.record)
                job.record->Add(batchEvent(job, file, written));
            if (!file.losses.empty()) {
                if (log)
                    log->Write(XmlLossLogLine(file.path, file.losses));
                outcome.losses.push_back({file.path, std::move(file.losses)});
            }
        } else if (file.kind == RowFile::Kind::Bytes || file.kind == RowFile::Kind::Refused) {
            outcome.failed << file.path;
        }
        if (progress && sinceProgress.elapsed() >= progressIntervalMs) {
            progress(r, rowCount);
            sinceProgress.restart();
        }
    }
    if (progress)
        progress(rowCount, rowCount);

    params = before;
    if (log && !outcome.unfilled.empty())
        log->Write(UnfilledPlaceholderLogLine(outcome.unfilled));
    if (!outcome.notMacs.isEmpty())
        dialogs.message(UiText::key("LBatchNotMac").addLiteral(outcome.notMacs.join(", ")));
    if (log)
        log->Write(BatchLogLine(job));
    return outcome;
}
