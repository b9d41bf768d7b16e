#include "batch/Placeholders.h"

#include <QStringList>
#include <algorithm>

bool IsPlaceholder(const QByteArray& value) {
    return value.size() > 3 && value.startsWith("{$") && value.endsWith('}');
}

UnfilledPlaceholders FindUnfilledPlaceholders(const ParameterSet& params,
                                              const std::vector<PNumber>& filled) {
    UnfilledPlaceholders out;
    for (const auto& [p, value] : params)
        if (IsPlaceholder(value) && std::find(filled.begin(), filled.end(), p) == filled.end())
            out.push_back({p, value});
    return out;
}

QString UnfilledPlaceholderList(const UnfilledPlaceholders& unfilled) {
    QStringList items;
    for (const UnfilledPlaceholder& u : unfilled)
        items << "P" + QString::number(u.p) + "=" + QString::fromUtf8(u.value);
    return items.join(' ');
}

QString UnfilledPlaceholderText(const UnfilledPlaceholders& unfilled) {
    return "placeholders no CSV column fills, left in the files as they are: " +
           UnfilledPlaceholderList(unfilled);
}

QString UnfilledPlaceholderLogLine(const UnfilledPlaceholders& unfilled) {
    return "CFG BATCH: " + UnfilledPlaceholderText(unfilled);
}
