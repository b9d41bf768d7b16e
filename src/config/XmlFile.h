#pragma once

#include "config/ParameterSet.h"

#include <QByteArray>
#include <QString>
#include <set>

// The XML configuration document printed by the indented printer: declaration, root
// "zv_provision" version="1", "config" version="1", one element "P<n>" per parameter.
QByteArray PrintXmlConfig(const ParameterSet& params);

// The bytes of an encrypted XML file: the printed text, zero bytes up to the smallest multiple
// of 16 above text length + 1, encrypted under the key text (the default key when empty). A text
// handed over (moved) is padded and encrypted in place.
QByteArray EncryptedXmlBytes(QByteArray printed, const QByteArray& keyText);

enum class XmlReadStatus {
    Ok,
    Unparsable,  // cannot be opened or parsed; nothing was touched
    NoConfig,    // no root, or its first child element is not "config"; the set was emptied
};

// Reads the "P<n>"/"p<n>" children of the root's first child "config" into params (emptied
// first). Entities are decoded and whitespace kept.
XmlReadStatus ReadXmlFile(const QString& path, ParameterSet& params);
XmlReadStatus ParseXmlText(const QByteArray& text, ParameterSet& params);

// Complete files, replaced atomically; false when they cannot be written.
bool WriteXmlFile(const QString& path, const ParameterSet& params);
bool WriteEncryptedXmlFile(const QString& path, const ParameterSet& params,
                           const QByteArray& keyText);

enum class XmlUpdateStatus {
    Created,       // no file existed: a complete file was written
    CreateFailed,  // no file existed and none could be written
    NoChanges,     // nothing to rewrite; the file is untouched
    Refused,       // parse error, no "zv_provision" root or no "config", or no backup possible
    SaveFailed,    // the file stays as it was
    Updated,
};

// Rewrites the elements of the parameters in changed inside an existing file: the first
// element of each changed P-number gets its value, the others are appended to "config" in
// ascending order. A backup path + "~" exists while the file is saved. changed is emptied
// after a save attempt (kept when Refused, untouched when Created).
XmlUpdateStatus UpdateXmlFile(const QString& path, ParameterSet& params,
                              std::set<PNumber>& changed);
