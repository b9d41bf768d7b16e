#pragma once

#include "config/ParameterSet.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// Bin configuration text: "Flag=5678&CheckSum=0", "&P<n>=<value>" per parameter in ascending
// order, "&end"; no line break, no terminating zero byte.
QByteArray BuildBinText(const ParameterSet& params);

enum class BinReadStatus {
    Ok,
    OpenFailed,  // the file cannot be opened; nothing was touched
    NotBin,      // empty, or not starting with "Flag="; the set was emptied
    NoPairs,     // no "&P" in the file; the set was emptied
};

// Parses bin text into params (emptied first): every "&P<n>=<value>" pair, the first
// occurrence of a P-number winning. A value runs to the next "&P"; the last one to the next
// "&" or the end.
BinReadStatus ParseBinText(const QByteArray& text, ParameterSet& params);
BinReadStatus ReadBinFile(const QString& path, ParameterSet& params);

// A bin file as it stands on disk: its text, or the text scrambled with the trailer.
enum class BinScrambling { Plain, Scrambled };

// Writes params as a bin file, plain or scrambled, replacing the file atomically. False when it
// cannot be written; the old file then stays.
bool WriteBinFile(const QString& path, const ParameterSet& params, BinScrambling scrambling);

// Tells configuration files apart by their first 128 bytes.
ConfigFileKind DetectConfigFileKind(const QString& path);
// The same on an open file, read from its start.
ConfigFileKind DetectConfigFileKind(QIODevice& file);
ConfigFileKind DetectConfigFileKindOfHead(const QByteArray& head);
