#include "config/CfgTemplate.h"

#include "app/Dialogs.h"
#include "app/MyLog.h"
#include "config/BinFile.h"
#include "config/XmlFile.h"

QString XmlLossLogLine(const QString& path, const XmlLosses& losses) {
    return "CFG XML: " + path + ": " + XmlLossText(losses);
}

void CfgTemplate::clearForLoad() {
    changed_.clear();
    if (clearEditorTables)
        clearEditorTables();
}

void CfgTemplate::loaded(const QString& path, TemplateKind kind) {
    SetCurrentTemplatePath(path);
    kind_ = kind;
    if (log_)
        log_->Write("Load cfg template:" + path);
}

CfgTemplate::LoadResult CfgTemplate::LoadTemplateFile(const QString& path) {
    switch (DetectConfigFileKind(path)) {
        case ConfigFileKind::Bin:
            return LoadBinFile(path, {});
        case ConfigFileKind::Xml:
            return LoadXmlFile(path);
        default:
            dialogs_->messageKey("LCfgError1");
            return LoadResult::Unchanged;
    }
}

CfgTemplate::LoadResult CfgTemplate::LoadBinFile(const QString& path, const QString& nameShown) {
    const BinReadStatus status = ReadBinFile(path, params_);
    if (status == BinReadStatus::OpenFailed) {
        dialogs_->messageKey("LCfgError1");
        return LoadResult::Unchanged;
    }
    clearForLoad();
    switch (status) {
        case BinReadStatus::NotBin:
            dialogs_->message(
                UiText::key("LCfgError2").addLiteral(nameShown.isEmpty() ? path : nameShown));
            return LoadResult::Emptied;
        case BinReadStatus::NoPairs:
            dialogs_->messageText("Handle process error!");
            return LoadResult::Emptied;
        default:
            loaded(path, TemplateKind::Bin);
            return LoadResult::Loaded;
    }
}

CfgTemplate::LoadResult CfgTemplate::LoadXmlFile(const QString& path) {
    const XmlReadStatus status = ReadXmlFile(path, params_);
    if (status == XmlReadStatus::Unparsable) {
        dialogs_->messageKey("LCfgError1");
        return LoadResult::Unchanged;
    }
    clearForLoad();
    if (status == XmlReadStatus::NoConfig) {
        dialogs_->messageKey("LCfgError1");
        return LoadResult::Emptied;
    }
    loaded(path, TemplateKind::Xml);
    return LoadResult::Loaded;
}

void CfgTemplate::commit() {
    if (commitEditor)
        commitEditor();
}

bool CfgTemplate::written(bool ok) {
    if (!ok)
        dialogs_->messageKey("LCfgError3");
    else if (setSaveEnabled)
        setSaveEnabled(false);
    return ok;
}

bool CfgTemplate::WriteBin(const QString& path) {
    return written(WriteBinFile(path, params_, BinScrambling::Plain));
}

void CfgTemplate::logLosses(const QString& path, const XmlLosses& losses) {
    if (log_ && !losses.empty())
        log_->Write(XmlLossLogLine(path, losses));
}

bool CfgTemplate::WriteXml(const QString& path) {
    XmlLosses losses;
    const bool ok = WriteXmlFile(path, params_, &losses);
    if (ok)
        logLosses(path, losses);
    return written(ok);
}

bool CfgTemplate::WriteEncryptedXml(const QString& path, const QByteArray& keyText) {
    XmlLosses losses;
    const bool ok = WriteEncryptedXmlFile(path, params_, keyText, &losses);
    if (ok)
        logLosses(path, losses);
    if (!ok)
        dialogs_->messageKey("LCfgError3");
    // The Save button is disabled after this writer whatever its outcome.
    if (setSaveEnabled)
        setSaveEnabled(false);
    return ok;
}

void CfgTemplate::SaveTemplate() {
    commit();
    if (kind_ == TemplateKind::Bin) {
        WriteBin(currentPath_);
    } else if (kind_ == TemplateKind::Xml) {
        XmlLosses losses;
        switch (UpdateXmlFile(currentPath_, params_, changed_, &losses)) {
            case XmlUpdateStatus::Created:
            case XmlUpdateStatus::Updated:
                logLosses(currentPath_, losses);
                written(true);
                break;
            case XmlUpdateStatus::NoChanges:
                break;
            default:
                written(false);
                break;
        }
    }
}

void CfgTemplate::SaveTemplateAs(const QString& path) {
    commit();
    if (kind_ == TemplateKind::Bin)
        WriteBin(path);
    else if (kind_ == TemplateKind::Xml)
        WriteXml(path);
    SetCurrentTemplatePath(path);
}

void CfgTemplate::Clear() {
    params_.Clear();
    changed_.clear();
}
