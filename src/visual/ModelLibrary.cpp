#include "visual/ModelLibrary.h"

#include <QDir>
#include <QFileInfo>

QStringList ListModels(const QString& workDir) {
    QStringList out;
    const QDir models(workDir + "/models");
    const QFileInfoList entries =
        models.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().startsWith('.') || !entry.permission(QFile::WriteOwner))
            continue;
        out << entry.fileName();
    }
    return out;
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
