#pragma once

#include "app/Dialogs.h"
#include "support/QtPrinters.h"

#include <QList>
#include <QString>
#include <QStringList>

// Dialogs for tests: records every message and question, answers from a script.
class RecordingDialogs : public Dialogs {
  public:
    struct Shown {
        enum Kind { Message, Question, OpenFile, OpenFiles, SaveFile, ChooseFolder } kind;
        UiText text;
        UiText caption;
        QString filter;
        Buttons buttons = Buttons::OkCancel;  // of a question
    };

    void message(const UiText& text, const UiText& caption = {}) override;
    bool question(const UiText& text, const UiText& caption, Buttons buttons) override;
    QString openFile(const QString& filter) override;
    QStringList openFiles(const QString& filter) override;
    QString saveFile(const QString& filter, const QString& defaultSuffix) override;
    QString chooseFolder(const UiText& caption) override;

    // Answers given in order; when they run out questions answer false and dialogs cancel.
    QList<bool> answers;
    QStringList paths;
    QList<QStringList> multiPaths;

    QList<Shown> shown;
    // The keys (or literal texts, for messages without a key) of the messages shown, in order.
    QStringList messages() const;
    void clear() { shown.clear(); }
};
