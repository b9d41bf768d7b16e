#include "app/ui/QtDialogs.h"

#include "app/LanguageTable.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

QString QtDialogs::ToQtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        QString patterns = i + 1 < parts.size() ? parts[i + 1] : QString();
        static const QRegularExpression ownPatterns(R"(\s*\(([^()]*)\)\s*$)");
        const QRegularExpressionMatch own = ownPatterns.match(description);
        if (patterns.isEmpty() && own.hasMatch())
            patterns = own.captured(1);
        if (own.hasMatch())
            description.truncate(own.capturedStart());
        QStringList list;
        for (QString p : patterns.split(QRegularExpression("[;,\\s]+"), Qt::SkipEmptyParts)) {
            if (p == "*.*")
                p = "*";
            if (!list.contains(p))
                list << p;
        }
        if (list.isEmpty())
            list << "*";
        out << description + " (" + list.join(' ') + ")";
    }
    return out.join(";;");
}

QString QtDialogs::render(const UiText& text) const {
    return text.render(
        [this](const QString& key) { return language_ ? language_->Translate(key) : QString(); });
}

QString QtDialogs::caption(const UiText& text) const {
    return text.isEmpty() ? QApplication::applicationDisplayName() : render(text);
}

namespace {
bool closing = false;
}

void QtDialogs::SetClosing(bool on) {
    closing = on;
}

bool QtDialogs::IsClosing() {
    return closing;
}

void QtDialogs::message(const UiText& text, const UiText& title) {
    if (closing)
        return;
    QMessageBox box(QMessageBox::NoIcon, caption(title), render(text), QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogs::question(const UiText& text, const UiText& title, Buttons buttons) {
    if (closing)
        return false;
    const bool yesNo = buttons != Buttons::OkCancel;
    QMessageBox box(
        QMessageBox::Question, caption(title), render(text),
        yesNo ? (QMessageBox::Yes | QMessageBox::No) : (QMessageBox::Ok | QMessageBox::Cancel),
        parent_);
    if (buttons == Buttons::YesNoDefaultNo)
        box.setDefaultButton(QMessageBox::No);
    const int answer = box.exec();
    return answer == (yesNo ? QMessageBox::Yes : QMessageBox::Ok);
}

QString QtDialogs::openFile(const QString& filter) {
    if (closing)
        return {};
    return QFileDialog::getOpenFileName(parent_, QString(), QString(), ToQtFilter(filter));
}

QStringList QtDialogs::openFiles(const QString& filter) {
    if (closing)
        return {};
    return QFileDialog::getOpenFileNames(parent_, QString(), QString(), ToQtFilter(filter));
}

QString QtDialogs::saveFile(const QString& filter, const QString& defaultSuffix) {
    if (closing)
        return {};
    QFileDialog dialog(parent_, QString(), QString(), ToQtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString QtDialogs::chooseFolder(const UiText& title) {
    if (closing)
        return {};
    return QFileDialog::getExistingDirectory(parent_, render(title));
}
