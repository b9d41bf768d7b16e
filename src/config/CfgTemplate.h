#pragma once

#include "config/ParameterSet.h"
#include "config/XmlFile.h"

#include <QString>
#include <functional>
#include <set>

class Dialogs;
class MyLog;

// The log line of an XML file written without some characters of its values:
// "CFG XML: <path>: characters XML cannot hold left out: P35 U+0001".
QString XmlLossLogLine(const QString& path, const XmlLosses& losses);

// The one configuration of the program with its companions: the parameters the user edited,
// the kind and path of the template it came from. Loads and saves report to the user through
// Dialogs ("LCfgError1" to "LCfgError3") and log "Load cfg template:<path>", and the
// XmlLossLogLine of an XML write that left characters out.
class CfgTemplate {
  public:
    CfgTemplate(Dialogs* dialogs, MyLog* log) : dialogs_(dialogs), log_(log) {}

    ParameterSet& Parameters() { return params_; }
    const ParameterSet& Parameters() const { return params_; }
    std::set<PNumber>& ChangedParams() { return changed_; }
    TemplateKind Kind() const { return kind_; }
    QString CurrentTemplatePath() const { return currentPath_; }
    void SetCurrentTemplatePath(const QString& path) { currentPath_ = path; }

    // Hooks the visual editor fills: copy the controls' values into the set; empty its item
    // tables (every load does); the enabled state of its Save button.
    std::function<void()> commitEditor;
    std::function<void()> clearEditorTables;
    std::function<void(bool)> setSaveEnabled;

    // What a load did to the configuration: replaced it with the file's content, emptied it
    // (the file was opened but its content refused), or left it as it was.
    enum class LoadResult { Loaded, Emptied, Unchanged };

    // Sniffs the file: Bin and Xml load, anything else shows "LCfgError1".
    bool LoadTemplate(const QString& path) { return LoadTemplateFile(path) == LoadResult::Loaded; }
    LoadResult LoadTemplateFile(const QString& path);
    // nameShown is appended to "LCfgError2" (the path when empty).
    bool LoadBinTemplate(const QString& path, const QString& nameShown = {}) {
        return LoadBinFile(path, nameShown) == LoadResult::Loaded;
    }

    // Commits the editor, then writes the template back by its kind (nothing for None).
    void SaveTemplate();
    // Commits the editor, writes a complete file at path by the kind, and makes path the
    // current template path.
    void SaveTemplateAs(const QString& path);

    PNumber FindParameterByValue(const QByteArray& text) const {
        return params_.FindParameterByValue(text);
    }

    // The writers with the program's reporting: "LCfgError3" on failure, the Save button
    // disabled after a success.
    bool WriteBin(const QString& path);
    bool WriteXml(const QString& path);
    bool WriteEncryptedXml(const QString& path, const QByteArray& keyText);

    // Empties everything (exit).
    void Clear();

  private:
    LoadResult LoadBinFile(const QString& path, const QString& nameShown);
    LoadResult LoadXmlFile(const QString& path);
    void clearForLoad();
    void loaded(const QString& path, TemplateKind kind);
    bool written(bool ok);
    void logLosses(const QString& path, const XmlLosses& losses);
    void commit();

    Dialogs* dialogs_;
    MyLog* log_;
    ParameterSet params_;
    std::set<PNumber> changed_;
    TemplateKind kind_ = TemplateKind::None;
    QString currentPath_;
};
