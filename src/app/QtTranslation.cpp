#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

QtTranslation::QtTranslation() = default;

QtTranslation::~QtTranslation() {
    if (translator_)
        QCoreApplication::removeTranslator(translator_.get());
}

bool QtTranslation::Use(const QString& code) {
    if (code == code_)
        return !code_.isEmpty();
    if (translator_) {
        QCoreApplication::removeTranslator(translator_.get());
        translator_.reset();
    }
    code_.clear();
    // A code names a file in Qt's folder: letters only, never a path.
    static const QRegularExpression shape("^[a-z]{2,3}(_[A-Z]{2})?$");
    if (!shape.match(code).hasMatch())
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load("qtbase_" + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    translator_ = std::move(translator);
    code_ = code;
    return true;
}
