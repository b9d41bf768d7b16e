#pragma once

#include <QByteArray>
#include <cstdint>
#include <map>

using PNumber = int32_t;

// The configuration: an ordered map from P-number to value (the bytes of a UTF-8 text).
// Readers insert without replacing, so the first occurrence of a P-number in a file wins;
// writers walk it in ascending P-number order.
class ParameterSet {
  public:
    using Map = std::map<PNumber, QByteArray>;
    using const_iterator = Map::const_iterator;

    // Adds the pair unless the P-number is present; false when it was. Files list their
    // parameters mostly in ascending order, so the end is tried first.
    bool InsertFirst(PNumber p, const QByteArray& value) {
        if (map_.empty() || map_.rbegin()->first < p) {
            map_.emplace_hint(map_.end(), p, value);
            return true;
        }
        return map_.emplace(p, value).second;
    }
    // Stores the value, adding the entry when missing.
    void Set(PNumber p, const QByteArray& value) { map_[p] = value; }
    const QByteArray* Find(PNumber p) const {
        const auto it = map_.find(p);
        return it == map_.end() ? nullptr : &it->second;
    }
    QByteArray Value(PNumber p) const {
        const QByteArray* v = Find(p);
        return v ? *v : QByteArray();
    }
    bool Contains(PNumber p) const { return map_.count(p) != 0; }
    // The smallest P-number whose value equals text byte for byte, -1 when none does.
    PNumber FindParameterByValue(const QByteArray& text) const;

    void Clear() { map_.clear(); }
    bool IsEmpty() const { return map_.empty(); }
    size_t Size() const { return map_.size(); }
    const_iterator begin() const { return map_.begin(); }
    const_iterator end() const { return map_.end(); }

    bool operator==(const ParameterSet& o) const { return map_ == o.map_; }

  private:
    Map map_;
};

// The P-number named by the digits at the start of text (digits up to the first non-digit,
// none gives 0), in 32-bit wrap-around arithmetic.
PNumber LeadingPNumber(const char* text, qsizetype size);

enum class TemplateKind { None = 1, Bin = 2, Xml = 3 };

enum class ConfigFileKind { Unreadable = 0, Other = 1, Bin = 2, Xml = 3 };
