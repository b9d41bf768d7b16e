#include "visual/CfgOutline.h"

#include "app/Dialogs.h"
#include "app/KeyHash.h"
#include "visual/JsonFile.h"

namespace {

QByteArray beforeFirstDot(const QByteArray& text) {
    const qsizetype dot = text.indexOf('.');
    return dot < 0 ? QByteArray() : text.left(dot);
}

QByteArray afterFirstQuestionMark(const QByteArray& text) {
    const qsizetype mark = text.indexOf('?');
    return mark < 0 ? text : text.mid(mark + 1);
}

int32_t lowerHash(const QByteArray& text) {
    return KeyHash(text.toLower());
}

}  // namespace

PageReference SplitPageReference(const QByteArray& reference) {
    const qsizetype mark = reference.indexOf('?');
    if (mark < 0)
        return {reference, {}};
    return {reference.left(mark), reference.mid(mark + 1)};
}

void CfgOutline::Clear() {
    nodes_.clear();
    pictureKeys_.Clear();
}

bool CfgOutline::Load(const QString& jsonDir, Dialogs& dialogs) {
    const JsonTree root = ReadJsonFile(jsonDir + "$outline.json", dialogs);
    if (!root) {
        dialogs.messageKey("LJsonError2");
        return false;
    }
    return Build(root.get(), dialogs);
}

bool CfgOutline::Build(const cJSON* root, Dialogs& dialogs) {
    const cJSON* outline = JsonFirst(root);
    if (!outline) {
        dialogs.messageKey("LJsonError3");
        return false;
    }
    if (!JsonIsHolder(outline)) {
        dialogs.messageKey("LJsonError1");
        return false;
    }
    Clear();
    for (const cJSON* entry = outline->child; entry; entry = entry->next) {
        const int index = NodeCount();
        Node node;
        node.caption = QString::fromUtf8(JsonKey(entry));
        if (const char* page = JsonString(entry)) {
            node.reference = page;
            nodes_.push_back(node);
            pictureKeys_.Add(lowerHash(beforeFirstDot(node.reference)));
            continue;
        }
        nodes_.push_back(node);
        if (!JsonIsHolder(entry))
            continue;
        // A group: its first child's file names the group's picture key.
        if (const char* first = JsonString(entry->child))
            pictureKeys_.Add(lowerHash(beforeFirstDot(first)));
        for (const cJSON* child = entry->child; child; child = child->next) {
            Node sub;
            sub.caption = QString::fromUtf8(JsonKey(child));
            sub.parent = index;
            if (const char* page = JsonString(child)) {
                sub.reference = page;
                pictureKeys_.Add(lowerHash(afterFirstQuestionMark(sub.reference)));
            } else {
                pictureKeys_.Add(0);
            }
            nodes_.push_back(sub);
        }
    }
    return true;
}

QByteArray CfgOutline::Reference(int node) const {
    if (node < 0 || node >= NodeCount())
        return {};
    return nodes_[node].reference;
}

int CfgOutline::PictureKeyPosition(const QByteArray& id) const {
    return pictureKeys_.IndexOf(lowerHash(id));
}
