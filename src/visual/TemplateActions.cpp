#include "visual/TemplateActions.h"

#include "app/Dialogs.h"
#include "config/CfgTemplate.h"
#include "visual/ModelLibrary.h"

const char* const kOpenDialog1Filter =
    "Cfg bin files (*.bin)|*.bin|Cfg XML files (*.xml)|*.xml|All files (*.*)|*.*";
const char* const kSaveDialog1Filter = "All files (*.*)";

bool LoadModelTemplate(CfgTemplate& tpl, const QString& workDir, const QString& model) {
    const QString path = ModelTemplatePath(workDir, model);
    if (!IsBlankModel(model))
        tpl.SetCurrentTemplatePath(path);
    return tpl.LoadBinTemplate(path);
}

bool LoadChosenTemplate(CfgTemplate& tpl, Dialogs& dialogs) {
    const QString path = dialogs.openFile(QString::fromLatin1(kOpenDialog1Filter));
    if (path.isEmpty())
        return false;
    return tpl.LoadTemplateFile(path) != CfgTemplate::LoadResult::Unchanged;
}

bool SaveTemplateAsChosen(CfgTemplate& tpl, Dialogs& dialogs) {
    if (tpl.commitEditor)
        tpl.commitEditor();
    const QString path = dialogs.saveFile(QString::fromLatin1(kSaveDialog1Filter), QString());
    if (path.isEmpty()) {
        dialogs.messageKey("LCfgError4");
        return false;
    }
    tpl.SaveTemplateAs(path);
    return true;
}
