#pragma once

#include <QByteArray>
#include <cstdint>

// The 31-bit hash by which the visual editor compares names: h = h * 131 + byte over the bytes
// taken as signed 8-bit values, in 32-bit wrap-around arithmetic, then h AND 0x7FFFFFFF.
int32_t KeyHash(const char* text, qsizetype size);
inline int32_t KeyHash(const QByteArray& text) {
    return KeyHash(text.constData(), text.size());
}
inline int32_t KeyHash(const char* text) {
    return KeyHash(text, qstrlen(text));
}
