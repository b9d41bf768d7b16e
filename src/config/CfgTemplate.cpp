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

bool CfgTemplate::LoadTemplate(const QString& path) {
    switch (DetectConfigFileKind(path)) {
        case ConfigFileKind::Bin:
            return LoadBinTemplate(path);
        case ConfigFileKind::Xml:
            return LoadXmlTemplate(path);
        default:
            dialogs_->messageKey("LCfgError1");
            return false;
    }
}

bool CfgTemplate::LoadBinTemplate(const QString& path, const QString& nameShown) {
    const BinReadStatus status = ReadBinFile(path, params_);
    if (status == BinReadStatus::OpenFailed) {
        dialogs_->messageKey("LCfgError1");
        return false;
    }
    clearForLoad();
    switch (status) {
        case BinReadStatus::NotBin:
            dialogs_->message(
                UiText::key("LCfgError2").addLiteral(nameShown.isEmpty() ? path : nameShown));
            return false;
        case BinReadStatus::NoPairs:
            dialogs_->messageText("Handle process error!");
            return false;
        default:
            loaded(path, TemplateKind::Bin);
            return true;
    }
}

bool CfgTemplate::LoadXmlTemplate(const QString& path) {
    const XmlReadStatus status = ReadXmlFile(path, params_);
    if (status == XmlReadStatus::Unparsable) {
        dialogs_->messageKey("LCfgError1");
        return false;
    }
    clearForLoad();
    if (status == XmlReadStatus::NoConfig) {
        dialogs_->messageKey("LCfgError1");
        return false;
    }
    loaded(path, TemplateKind::Xml);
    return true;
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

bool CfgTemplate::WriteBin(const QString& path, bool scrambled) {
    return written(WriteBinFile(path, params_, scrambled));
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
        WriteBin(currentPath_, false);
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
        WriteBin(path, false);
    else if (kind_ == TemplateKind::Xml)
        WriteXml(path);
    SetCurrentTemplatePath(path);
}

void CfgTemplate::Clear() {
    params_.Clear();
    changed_.clear();
}
