#include "visual/JsonFile.h"

#include "app/Dialogs.h"

#include <QFile>
#include <QFileInfo>

namespace {

void showLiteral(Dialogs& dialogs, const char* format, const QString& path) {
    dialogs.message(UiText::literal(QString::fromLatin1(format).replace("%s", path)));
}

}  // namespace

JsonTree ParseJsonText(const QByteArray& text) {
    const char* begin = text.constData();
    if (text.startsWith("\xEF\xBB\xBF"))
        begin += 3;
    // QByteArray keeps a terminating zero byte, so the parser stops at the end of the text.
    return JsonTree(cJSON_Parse(begin));
}

JsonTree ReadJsonFile(const QString& path, Dialogs& dialogs) {
    if (!QFileInfo::exists(path)) {
        showLiteral(dialogs, "%s not exist!", path);
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showLiteral(dialogs, "Open Json file %s fail!", path);
        return nullptr;
    }
    const QByteArray text = file.readAll();
    file.close();
    if (text.isEmpty()) {
        showLiteral(dialogs, "Invalid Json file %s, file is null! ", path);
        return nullptr;
    }
    JsonTree tree = ParseJsonText(text);
    if (!tree)
        showLiteral(dialogs, "Invalid Json file %s format! ", path);
    return tree;
}

const cJSON* JsonMemberAt(const cJSON* node, int n) {
    const cJSON* member = JsonFirst(node);
    for (; member && n > 0; --n)
        member = member->next;
    return member;
}
