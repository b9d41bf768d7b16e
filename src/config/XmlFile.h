#pragma once

#include "config/ParameterSet.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <set>
#include <vector>

// What the XML writers left out of one element: characters XML 1.0 cannot hold (C0 controls
// other than TAB, LF and CR, U+FFFE, U+FFFF) and bytes that are not UTF-8. Everything else is
// written so that a parser reads it back as it was, a CR as "&#13;".
struct XmlLoss {
    QByteArray element;      // the element's name, e.g. "P35"
    QStringList characters;  // each once, in order: "U+0001", or a byte that is not UTF-8 "0xFC"
};
using XmlLosses = std::vector<XmlLoss>;

// "characters XML cannot hold left out: P35 U+0001 U+001B; P40 0xFC"
QString XmlLossText(const XmlLosses& losses);

// The XML configuration document printed by the indented printer: declaration, root
// "zv_provision" version="1", "config" version="1", one element "P<n>" per parameter. What
// the values lose is added to losses when given.
QByteArray PrintXmlConfig(const ParameterSet& params, XmlLosses* losses = nullptr);

// A value as the printer writes it as the text of the named element.
QByteArray XmlElementText(const QByteArray& element, const QByteArray& value,
                          XmlLosses* losses = nullptr);

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

// Complete files, replaced atomically; false when they cannot be written. What the values
// lose is added to losses when given.
bool WriteXmlFile(const QString& path, const ParameterSet& params, XmlLosses* losses = nullptr);
bool WriteEncryptedXmlFile(const QString& path, const ParameterSet& params,
                           const QByteArray& keyText, XmlLosses* losses = nullptr);

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
// ascending order. A backup path + "~" exists while the file is saved (unless that name is
// too long for the folder). changed is emptied after a save attempt (kept when Refused,
// untouched when Created). The whole file is printed again as the writers print: what any
// element loses is added to losses when given.
XmlUpdateStatus UpdateXmlFile(const QString& path, ParameterSet& params, std::set<PNumber>& changed,
                              XmlLosses* losses = nullptr);
