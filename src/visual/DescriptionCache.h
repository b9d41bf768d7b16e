#pragma once

#include "visual/JsonFile.h"

#include <QString>
#include <cstdint>
#include <map>

class Dialogs;

// The settings description files parsed for the current model, keyed by the key hash of the
// full path. The path is kept beside the tree, so that two paths with the same hash never
// stand for each other.
class DescriptionCache {
  public:
    // The parsed file, or null when it is not cached.
    const cJSON* Find(const QString& path) const;
    // Takes the tree; gives it back as stored.
    const cJSON* Add(const QString& path, JsonTree tree);
    void Clear() { entries_.clear(); }
    int Count() const { return static_cast<int>(entries_.size()); }

    // How many files were read from disk since the model was selected (for the benchmark).
    int DiskReads() const { return diskReads_; }
    void CountDiskRead() { ++diskReads_; }
    void ResetDiskReads() { diskReads_ = 0; }

  private:
    struct Entry {
        QByteArray path;
        JsonTree tree;
    };
    std::multimap<int32_t, Entry> entries_;
    int diskReads_ = 0;
};

// Resolves an outline node's page reference to its page object: the file's first member, or
// that member's member named by the section. Reads the file when it is not cached yet.
// Messages: the reader's, then "LJsonError4" (unreadable), "LJsonError1" (root neither object
// nor array), "LJsonError3" (root without members, or a section asked of a page object
// without members), "LJsonError5" (no such section). Null on failure and for an empty
// reference.
const cJSON* ResolvePage(const QByteArray& reference, const QString& jsonDir,
                         DescriptionCache& cache, Dialogs& dialogs);
