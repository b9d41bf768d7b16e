#pragma once

#include <QString>
#include <memory>

class QTranslator;

// Qt's own texts (the buttons of message boxes, the file dialogs, the edit menus) in the
// language in force: Qt's translation "qtbase_<code>" from Qt's translations folder, installed
// in the application. A code of no translation (English among them) leaves Qt's English texts.
class QtTranslation {
  public:
    QtTranslation();
    ~QtTranslation();
    QtTranslation(const QtTranslation&) = delete;
    QtTranslation& operator=(const QtTranslation&) = delete;

    // code: a language code as "de" or "pt_BR" (a language file's "LLanguageCode" line); any
    // other text, or one without a translation file, removes the translation in force. True
    // when a translation is in force afterwards.
    bool Use(const QString& code);
    // The code of the translation in force, empty for none.
    QString Code() const { return code_; }

  private:
    std::unique_ptr<QTranslator> translator_;
    QString code_;
};
