#include "app/MyExclusiveIntArray.h"

#include <algorithm>

void MyExclusiveIntArray::Add(int32_t value) {
    if (IndexOf(value) < 0)
        items_.push_back(value);
}

int MyExclusiveIntArray::IndexOf(int32_t value) const {
    const auto it = std::find(items_.begin(), items_.end(), value);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void MyExclusiveIntArray::Remove(int32_t value) {
    const int index = IndexOf(value);
    if (index >= 0)
        items_.erase(items_.begin() + index);
}

int32_t MyExclusiveIntArray::At(int index) const {
    return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : -1;
}
