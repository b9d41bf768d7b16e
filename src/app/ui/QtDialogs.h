#pragma once

#include "app/Dialogs.h"

#include <QPointer>
#include <QWidget>

class LanguageTable;

// The program's dialogs: message boxes, questions and file dialogs, with texts rendered
// through the language table in force.
class QtDialogs : public Dialogs {
  public:
    explicit QtDialogs(const LanguageTable* language, QWidget* parent = nullptr)
        : language_(language), parent_(parent) {}

    void message(const UiText& text, const UiText& caption = {}) override;
    bool question(const UiText& text, const UiText& caption, Buttons buttons) override;
    QString openFile(const QString& filter) override;
    QStringList openFiles(const QString& filter) override;
    QString saveFile(const QString& filter, const QString& defaultSuffix) override;
    QString chooseFolder(const UiText& caption) override;

    // "Desc|*.a;*.b|All files (*.*)|*.*" as Qt writes filters: "Desc (*.a *.b);;All files (*)".
    // A description's own "(...)" is replaced by the patterns; "*.*" matches every name.
    static QString ToQtFilter(const QString& filter);

    // Once the program is closing (a quit signal), no dialog opens any more: messages are
    // dropped, questions answer No/Cancel and file dialogs are cancelled.
    static void SetClosing(bool closing);
    static bool IsClosing();

  private:
    QString render(const UiText& text) const;
    QString caption(const UiText& text) const;

    const LanguageTable* language_;
    QPointer<QWidget> parent_;
};
