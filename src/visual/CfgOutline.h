#pragma once

#include "app/MyExclusiveIntArray.h"

#include <cjson/cJSON.h>
#include <QByteArray>
#include <QString>
#include <vector>

class Dialogs;

// The outline of a model's settings pages, read from "$outline.json": the node table in the
// tree's depth-first order and the picture key list that links picture keys to nodes.
class CfgOutline {
  public:
    struct Node {
        QString caption;       // the member's key, from UTF-8
        int parent = -1;       // absolute index of the group node, -1 for a top-level node
        QByteArray reference;  // "file" or "file?Section"; empty when the node shows no page
    };

    // Reads "<jsonDir>$outline.json". On failure shows the reader's message and "LJsonError2",
    // "LJsonError3" (root without members) or "LJsonError1" (outline neither object nor
    // array); the outline is then left as it was.
    bool Load(const QString& jsonDir, Dialogs& dialogs);
    // The same from a parsed root.
    bool Build(const cJSON* root, Dialogs& dialogs);
    void Clear();

    const std::vector<Node>& Nodes() const { return nodes_; }
    int NodeCount() const { return static_cast<int>(nodes_.size()); }
    // The node's page reference, empty when out of range.
    QByteArray Reference(int node) const;
    const MyExclusiveIntArray& PictureKeys() const { return pictureKeys_; }
    // The picture key list position of a picture-map id (lower-cased, then hashed), -1 when
    // absent.
    int PictureKeyPosition(const QByteArray& id) const;

  private:
    std::vector<Node> nodes_;
    MyExclusiveIntArray pictureKeys_;
};

// A page reference split into its file and section: the parts before and after the first "?".
struct PageReference {
    QByteArray file;
    QByteArray section;
};
PageReference SplitPageReference(const QByteArray& reference);
