#include "visual/CfgItems.h"

const Tag_CfgItemInfo* FindBinding(const CfgItemMap& items, const QObject* control) {
    for (const auto& [p, info] : items)
        if (info.control == control)
            return &info;
    return nullptr;
}
