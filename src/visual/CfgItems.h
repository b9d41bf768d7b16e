#pragma once

#include "config/ParameterSet.h"

#include <QObject>
#include <cstdint>
#include <map>
#include <vector>

// The binding of one generated input control to its parameter.
struct Tag_CfgItemInfo {
    enum Kind : int32_t { Combo = 0, Edit = 1 };
    PNumber pno = 0;
    int32_t kind = Edit;
    QObject* control = nullptr;  // owned by the editor panel's content
};

// One binding per parameter number on the page shown.
using CfgItemMap = std::map<PNumber, Tag_CfgItemInfo>;
// Each combo box's "CValues", in file order.
using ComboValues = std::map<const QObject*, std::vector<int>>;

// The binding that refers to a control, null when none does.
const Tag_CfgItemInfo* FindBinding(const CfgItemMap& items, const QObject* control);
