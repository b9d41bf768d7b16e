#pragma once

#include "config/ParameterSet.h"

#include <QByteArray>
#include <QString>
#include <vector>

// A placeholder value: "{$" + a name (with ".line." and an account number for a per-account
// one), optionally "|" and more text, then "}" ("{$admin_pass}", "{$username.line.1}"). A batch
// run replaces it only by a CSV column whose header is its whole text, "|" part included: that
// part is no default and is never applied.
bool IsPlaceholder(const QByteArray& value);

// A parameter whose value is a placeholder that no column of a run fills: the files carry it as
// it is.
struct UnfilledPlaceholder {
    PNumber p = 0;
    QByteArray value;
};
using UnfilledPlaceholders = std::vector<UnfilledPlaceholder>;

// The parameters holding a placeholder, but those in filled, in P-number order.
UnfilledPlaceholders FindUnfilledPlaceholders(const ParameterSet& params,
                                              const std::vector<PNumber>& filled);

// "P410={$admin_pass} P1007={$sip_server.line.1}": each one once, in P-number order.
QString UnfilledPlaceholderList(const UnfilledPlaceholders& unfilled);

// "placeholders no CSV column fills, left in the files as they are: " and the list (orvo-cli
// batch says it on stderr).
QString UnfilledPlaceholderText(const UnfilledPlaceholders& unfilled);
// The batch's log line: "CFG BATCH: " and that text.
QString UnfilledPlaceholderLogLine(const UnfilledPlaceholders& unfilled);
