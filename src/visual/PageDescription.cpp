#include "visual/PageDescription.h"

#include "app/Dialogs.h"
#include "app/KeyHash.h"
#include "app/Numbers.h"
#include "visual/JsonFile.h"

#include <algorithm>
#include <cstring>

const DescriptionHashes& DescriptionHashes::Get() {
    static const DescriptionHashes hashes{
        KeyHash("PNo"),     KeyHash("ViewType"), KeyHash("Hint"), KeyHash("Choices"),
        KeyHash("CValues"), KeyHash("ComboBox"), KeyHash("Edit"), KeyHash("Label"),
    };
    return hashes;
}

std::vector<PNumber> DigitRuns(const char* text) {
    std::vector<PNumber> runs;
    if (!text)
        return runs;
    const qsizetype size = static_cast<qsizetype>(std::strlen(text));
    for (qsizetype i = 0; i < size;) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < size && text[end] >= '0' && text[end] <= '9')
            ++end;
        runs.push_back(LeadingPNumber(text + i, end - i));
        i = end;
    }
    return runs;
}

bool PageItem::BoundNumber(int n, PNumber* p) const {
    if (!bindable || n < 0 || n >= static_cast<int>(numbers.size()))
        return false;
    *p = numbers[n];
    return true;
}

namespace {

ViewKind viewKindOf(const cJSON* item, Dialogs& dialogs) {
    if (!JsonHasMembers(item)) {
        dialogs.messageKey("LJsonError3");
        return ViewKind::None;
    }
    const DescriptionHashes& h = DescriptionHashes::Get();
    for (const cJSON* member = item->child; member; member = member->next) {
        if (KeyHash(JsonKey(member)) != h.viewType)
            continue;
        const char* type = JsonString(member);
        if (!type)
            return ViewKind::None;
        const int32_t t = KeyHash(type);
        if (t == h.comboBox)
            return ViewKind::ComboBox;
        if (t == h.edit)
            return ViewKind::Edit;
        if (t == h.label)
            return ViewKind::Label;
        return ViewKind::None;
    }
    dialogs.messageKey("LJsonError6");
    return ViewKind::None;
}

int leadingIntOf(const cJSON* element) {
    if (const char* s = JsonString(element))
        return ReadLeadingInt(s, static_cast<qsizetype>(std::strlen(s)));
    if (cJSON_IsNumber(element))
        return element->valueint;
    return 0;
}

PageItem describeItem(const cJSON* item, int row, Dialogs& dialogs) {
    PageItem out;
    out.row = row;
    out.caption = QString::fromUtf8(JsonKey(item));
    out.kind = viewKindOf(item, dialogs);
    if (out.kind == ViewKind::None || out.kind == ViewKind::Label)
        return out;
    const cJSON* first = JsonMemberAt(item, 0);
    const cJSON* hint = JsonMemberAt(item, 2);
    out.numbers = DigitRuns(JsonString(first));
    out.bindable = JsonMemberAt(item, 1) && hint;
    out.address = out.kind == ViewKind::Edit && out.numbers.size() >= 4;
    if (!out.bindable)
        return out;
    out.hint = QString::fromUtf8(JsonString(hint));
    if (out.kind == ViewKind::ComboBox) {
        const cJSON* choices = JsonMemberAt(item, 3);
        for (const cJSON* c = JsonFirst(choices); c; c = c->next)
            out.choices << QString::fromUtf8(JsonString(c));
        const cJSON* values = choices ? choices->next : nullptr;
        for (const cJSON* v = JsonFirst(values); v; v = v->next)
            out.values.push_back(leadingIntOf(v));
    }
    return out;
}

}  // namespace

PageDescription DescribePage(const cJSON* page, Dialogs& dialogs) {
    PageDescription out;
    int row = 0;
    for (const cJSON* member = JsonFirst(page); member; member = member->next) {
        if (!JsonHasMembers(member)) {
            dialogs.messageKey("LJsonError3");
            out.stopped = true;
            return out;
        }
        if (JsonHasMembers(member->child)) {
            PageItem caption;
            caption.row = row++;
            caption.caption = QString::fromUtf8(JsonKey(member));
            caption.groupCaption = true;
            out.items.push_back(caption);
            for (const cJSON* sub = member->child; sub; sub = sub->next)
                out.items.push_back(describeItem(sub, row++, dialogs));
        } else {
            out.items.push_back(describeItem(member, row, dialogs));
        }
        ++row;
    }
    return out;
}

int ComboIndexFor(const std::vector<int>& values, int optionCount, const QByteArray* stored,
                  bool setIsEmpty) {
    if (setIsEmpty)
        return optionCount > 0 ? 0 : -1;
    const int v = stored ? ReadLeadingInt(stored->constData(), stored->size()) : 0;
    const auto found = std::find(values.begin(), values.end(), v);
    if (found != values.end()) {
        const int position = static_cast<int>(found - values.begin());
        return position < optionCount ? position : -1;
    }
    return v >= 0 && v < optionCount ? v : -1;
}

QByteArray ComboStoredText(const std::vector<int>& values, int index) {
    if (index >= 0 && index < static_cast<int>(values.size()) && values[index] != -1)
        return QByteArray::number(values[index]);
    return QByteArray::number(index);
}
