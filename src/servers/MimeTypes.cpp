#include "servers/MimeTypes.h"

#include <QMimeDatabase>

#include <fstream>
#include <sstream>
#include <unordered_map>

namespace {

using MimeTable = std::unordered_map<std::string, std::string>;

const char* const kBuiltIn[][2] = {
    {"htm", "text/html"},
    {"html", "text/html"},
    {"txt", "text/plain"},
    {"csv", "text/csv"},
    {"xml", "text/xml"},
    {"css", "text/css"},
    {"js", "application/javascript"},
    {"json", "application/json"},
    {"bin", "application/octet-stream"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"tar", "application/x-tar"},
    {"pdf", "application/pdf"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},
    {"svg", "image/svg+xml"},
    {"wav", "audio/wav"},
    {"mp3", "audio/mpeg"},
};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Lines "type ext ext ..."; "#" starts a comment. Existing entries win.
void addMimeTypesFile(const char* path, MimeTable& table) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string type, ext;
        if (!(words >> type))
            continue;
        while (words >> ext)
            table.emplace(lower(ext), type);
    }
}

const MimeTable& mimeTable() {
    static const MimeTable table = [] {
        MimeTable t;
        for (const auto& entry : kBuiltIn)
            t.emplace(entry[0], entry[1]);
        addMimeTypesFile("/etc/mime.types", t);
        return t;
    }();
    return table;
}

}  // namespace

const std::string& MimeTypeForFile(std::string_view fileName) {
    static const std::string fallback = "application/octet-stream";
    const auto slash = fileName.rfind('/');
    if (slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == fileName.size())
        return fallback;
    const std::string extension = lower(fileName.substr(dot + 1));
    const MimeTable& table = mimeTable();
    const auto it = table.find(extension);
    if (it != table.end())
        return it->second;
    // Qt's database knows more; it is asked by name only, never by reading the file.
    thread_local std::string fromQt;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(
        "x." + QString::fromUtf8(extension.data(), qsizetype(extension.size())),
        QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return fallback;
    fromQt = type.name().toStdString();
    return fromQt;
}

void PrepareMimeTypes() {
    mimeTable();
    QMimeDatabase().mimeTypeForFile("x.txt", QMimeDatabase::MatchExtension);
}
