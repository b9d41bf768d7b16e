#include "support/RecordingDialogs.h"

void RecordingDialogs::message(const UiText& text, const UiText& caption) {
    shown.append({Shown::Message, text, caption, {}});
}

bool RecordingDialogs::question(const UiText& text, const UiText& caption, Buttons buttons) {
    shown.append({Shown::Question, text, caption, {}, buttons});
    return answers.isEmpty() ? false : answers.takeFirst();
}

QString RecordingDialogs::openFile(const QString& filter) {
    shown.append({Shown::OpenFile, {}, {}, filter});
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

QStringList RecordingDialogs::openFiles(const QString& filter) {
    shown.append({Shown::OpenFiles, {}, {}, filter});
    return multiPaths.isEmpty() ? QStringList() : multiPaths.takeFirst();
}

QString RecordingDialogs::saveFile(const QString& filter, const QString&) {
    shown.append({Shown::SaveFile, {}, {}, filter});
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

QString RecordingDialogs::chooseFolder(const UiText& caption) {
    shown.append({Shown::ChooseFolder, {}, caption, {}});
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

QStringList RecordingDialogs::messages() const {
    QStringList out;
    for (const Shown& s : shown) {
        if (s.kind != Shown::Message)
            continue;
        const QStringList keys = s.text.keys();
        out << (keys.isEmpty() ? s.text.raw() : keys.join('+'));
    }
    return out;
}
