#include "app/KeyHash.h"

int32_t KeyHash(const char* text, qsizetype size) {
    uint32_t h = 0;
    for (qsizetype i = 0; i < size; ++i)
        h = h * 131u +
            static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(text[i])));
    return static_cast<int32_t>(h & 0x7FFFFFFFu);
}
