#pragma once

#include <cjson/cJSON.h>
#include <QByteArray>
#include <QString>
#include <memory>

class Dialogs;

struct JsonDeleter {
    void operator()(cJSON* node) const { cJSON_Delete(node); }
};
// A parsed JSON document, freed with its owner.
using JsonTree = std::unique_ptr<cJSON, JsonDeleter>;

// Reads and parses a description file. On failure it shows the literal message with the path
// ("%s not exist!", "Open Json file %s fail!", "Invalid Json file %s, file is null! ",
// "Invalid Json file %s format! ") and gives nothing.
JsonTree ReadJsonFile(const QString& path, Dialogs& dialogs);
// Parses a text; nothing when it is not JSON. A leading UTF-8 byte order mark is skipped.
JsonTree ParseJsonText(const QByteArray& text);

// Walking helpers over a node's members (an object's members or an array's elements).
inline bool JsonIsHolder(const cJSON* node) {
    return node && (cJSON_IsObject(node) || cJSON_IsArray(node));
}
// The first member of an object or array, null for anything else.
inline const cJSON* JsonFirst(const cJSON* node) {
    return JsonIsHolder(node) ? node->child : nullptr;
}
inline bool JsonHasMembers(const cJSON* node) {
    return JsonFirst(node) != nullptr;
}
// The n-th member (0-based), null when there are fewer.
const cJSON* JsonMemberAt(const cJSON* node, int n);
// A member's key as bytes (empty for array elements).
inline QByteArray JsonKey(const cJSON* node) {
    return node && node->string ? QByteArray(node->string) : QByteArray();
}
// A string node's value, null for every other kind of node.
inline const char* JsonString(const cJSON* node) {
    return cJSON_IsString(node) ? node->valuestring : nullptr;
}
