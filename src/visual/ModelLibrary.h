#pragma once

#include <QString>
#include <QStringList>

// Where the files of a phone model lie, under the working directory:
//   models/<M>/json/    the settings descriptions, "$outline.json" among them
//   models/<M>/dev/map.xml   the picture map
//   models/<M>/$devCfg.bin   the model's template
//   default/$json/, default/$cfg.bin   the set used when no model is chosen

// The directories directly under <workDir>/models/, sorted by name. Hidden directories,
// symbolic links and directories without the owner's write permission are left out.
QStringList ListModels(const QString& workDir);

// True when the model name is empty after removing leading and trailing blanks.
bool IsBlankModel(const QString& model);

// The json directory with its trailing "/": the default set's for a blank model.
QString ModelJsonDir(const QString& workDir, const QString& model);
// The picture map path, always formed from the model name.
QString ModelMapPath(const QString& workDir, const QString& model);
// The template: <workDir>/default/$cfg.bin for a blank model, else the model's $devCfg.bin.
QString ModelTemplatePath(const QString& workDir, const QString& model);
