#pragma once

#include "config/ParameterSet.h"

#include "support/FileSizeLimit.h"

#include <initializer_list>
#include <utility>

inline ParameterSet MakeParams(std::initializer_list<std::pair<PNumber, const char*>> entries) {
    ParameterSet set;
    for (const auto& [p, v] : entries)
        set.Set(p, v);
    return set;
}
