#pragma once

#include <cstdint>
#include <vector>

// A growable sequence of integers in insertion order in which no value occurs twice.
class MyExclusiveIntArray {
  public:
    // Appends the value unless it is present already.
    void Add(int32_t value);
    // 0-based position of the value, -1 when absent.
    int IndexOf(int32_t value) const;
    // Removes the value if present; later elements move up one place.
    void Remove(int32_t value);
    int Count() const { return static_cast<int>(items_.size()); }
    void Clear() { items_.clear(); }
    // The element at a position in 0 to Count() - 1; any other position gives -1.
    int32_t At(int index) const;

  private:
    std::vector<int32_t> items_;
};
