#pragma once

#include <QString>

class CfgTemplate;
class Dialogs;

// The filters of the template open dialog (OpenDialog1) and save dialog (SaveDialog1).
extern const char* const kOpenDialog1Filter;
extern const char* const kSaveDialog1Filter;

// Reads the template of a model into the configuration with LoadBinTemplate, whatever the
// file holds. For a named model its path becomes the current template path before reading
// (so a later Save as starts from there even when the file is missing).
bool LoadModelTemplate(CfgTemplate& tpl, const QString& workDir, const QString& model);

// "Load a Template": the open dialog, then the file loaded by its kind ("LCfgError1" for any
// other). True when the configuration was replaced or emptied; false when the dialog was
// cancelled or the file left the configuration as it was (neither bin nor XML, unreadable).
bool LoadChosenTemplate(CfgTemplate& tpl, Dialogs& dialogs);

// "Save as": the save dialog (it asks before overwriting), then SaveTemplateAs. A cancelled
// dialog shows "LCfgError4" and gives false.
bool SaveTemplateAsChosen(CfgTemplate& tpl, Dialogs& dialogs);
