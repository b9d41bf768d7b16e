#include "visual/ModelLibrary.h"

#include "app/DirectoryListing.h"

#include <QDir>
#include <QFileInfo>

QStringList ListModels(const QString& workDir) {
    return ListPlainDirectories(workDir + "/models");
}

bool IsBlankModel(const QString& model) {
    return model.trimmed().isEmpty();
}

QString ModelJsonDir(const QString& workDir, const QString& model) {
    if (IsBlankModel(model))
        return workDir + "/default/$json/";
    return workDir + "/models/" + model + "/json/";
}

QString ModelMapPath(const QString& workDir, const QString& model) {
    return workDir + "/models/" + model + "/dev/map.xml";
}

QString ModelTemplatePath(const QString& workDir, const QString& model) {
    if (IsBlankModel(model))
        return workDir + "/default/$cfg.bin";
    return workDir + "/models/" + model + "/$devCfg.bin";
}
