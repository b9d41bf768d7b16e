#pragma once

#include "app/ui/Unit1.h"
#include "support/QtPrinters.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <memory>

// A working folder for the main window: the supplied ini folder (or parts of it), the
// process's current directory while the test runs, and the window with recorded dialogs.
class ShellFixture : public ::testing::Test {
  protected:
    // The working folder holds the supplied default set and one model, so that the first
    // showing of Phone Configuration loads without messages.
    ShellFixture() : previousDir_(QDir::currentPath()) {
        QDir::setCurrent(dir.path());
        SupplyTree("default");
        SupplyTree("models/X100");
    }
    ~ShellFixture() override {
        form.reset();
        QDir::setCurrent(previousDir_);
    }

    static QString SourceFile(const QString& relative) { return SourcePath(relative); }
    // Copies a file of the supplied data folder into the working folder.
    void Supply(const QString& relative, const QString& as = {}) {
        dir.write(as.isEmpty() ? relative : as, ReadFileBytes(SourceFile("data/" + relative)));
    }
    // Copies a folder of the supplied data folder, with everything in it.
    void SupplyTree(const QString& relative) {
        const QString from = SourceFile("data/" + relative);
        QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            dir.write(relative + file.mid(from.size()), ReadFileBytes(file));
        }
    }
    void SupplyLanguages() {
        Supply("ini/lang/English");
        Supply("ini/lang/Deutsch");
    }
    // The supplied default settings with one line replaced (or none).
    QByteArray DefaultSettings(const QByteArray& from = {}, const QByteArray& to = {}) {
        QByteArray text = ReadFileBytes(SourceFile("data/ini/$default.ini"));
        if (!from.isEmpty())
            text.replace(from, to);
        return text;
    }

    TForm1& Start() {
        form = std::make_unique<TForm1>(&dialogs);
        logFile_ = form->Log().FileName();
        return *form;
    }
    // Destroys the window as closing the program does.
    void Stop() { form.reset(); }

    QString SettingsFile() const { return dir.file("ini/setting.ini"); }
    QStringList LogFiles() const {
        return QDir(dir.file("log")).entryList(QDir::Files, QDir::Name);
    }
    // The lines of the log file of the last start, without their date and time.
    QStringList LogMessages() const {
        QStringList out;
        if (logFile_.isEmpty())
            return out;
        const QByteArray text = ReadFileBytes(logFile_);
        for (const QByteArray& line : text.split('\n')) {
            if (line.isEmpty())
                continue;
            // "yyyy-MM-dd hh:mm:ss message\r"
            out << QString::fromUtf8(line.mid(20).chopped(line.endsWith('\r') ? 1 : 0));
        }
        return out;
    }

    TempDir dir;
    RecordingDialogs dialogs;
    std::unique_ptr<TForm1> form;

  private:
    QString previousDir_;
    QString logFile_;
};
