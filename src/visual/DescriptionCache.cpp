#include "visual/DescriptionCache.h"

#include "app/Dialogs.h"
#include "app/KeyHash.h"
#include "visual/CfgOutline.h"

const cJSON* DescriptionCache::Find(const QString& path) const {
    const QByteArray bytes = path.toUtf8();
    const auto range = entries_.equal_range(KeyHash(bytes));
    for (auto it = range.first; it != range.second; ++it)
        if (it->second.path == bytes)
            return it->second.tree.get();
    return nullptr;
}

const cJSON* DescriptionCache::Add(const QString& path, JsonTree tree) {
    const QByteArray bytes = path.toUtf8();
    const cJSON* stored = tree.get();
    entries_.emplace(KeyHash(bytes), Entry{bytes, std::move(tree)});
    return stored;
}

const cJSON* ResolvePage(const QByteArray& reference, const QString& jsonDir,
                         DescriptionCache& cache, Dialogs& dialogs) {
    if (reference.isEmpty())
        return nullptr;
    const PageReference ref = SplitPageReference(reference);
    const QString path = jsonDir + QString::fromUtf8(ref.file);

    const cJSON* root = cache.Find(path);
    if (!root) {
        cache.CountDiskRead();
        JsonTree tree = ReadJsonFile(path, dialogs);
        if (!tree) {
            dialogs.messageKey("LJsonError4");
            return nullptr;
        }
        if (!JsonIsHolder(tree.get())) {
            dialogs.messageKey("LJsonError1");
            return nullptr;
        }
        if (!JsonHasMembers(tree.get())) {
            dialogs.messageKey("LJsonError3");
            return nullptr;
        }
        // A readable file is kept even when the section asked for is missing: it is read once
        // per model selection.
        root = cache.Add(path, std::move(tree));
    }

    const cJSON* pageObject = JsonFirst(root);
    if (ref.section.isEmpty())
        return pageObject;
    if (!JsonHasMembers(pageObject)) {
        dialogs.messageKey("LJsonError3");
        return nullptr;
    }
    for (const cJSON* member = pageObject->child; member; member = member->next)
        if (JsonKey(member) == ref.section)
            return member;
    dialogs.messageKey("LJsonError5");
    return nullptr;
}
