#pragma once

#include "config/ParameterSet.h"

#include <cjson/cJSON.h>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

class Dialogs;

// The key hashes by which description members and view types are compared.
struct DescriptionHashes {
    int32_t pNo, viewType, hint, choices, cValues;
    int32_t comboBox, edit, label;
    static const DescriptionHashes& Get();
};

// The control kind of an item, from its "ViewType".
enum class ViewKind : int32_t { None = -1, ComboBox = 0, Edit = 1, Label = 2 };

// The parameter numbers named in a "PNo" text: every run of decimal digits, in order.
std::vector<PNumber> DigitRuns(const char* text);

// One row element of a page: a group caption or an item with its control.
struct PageItem {
    int row = 0;  // placed at Top = 30 * row + 2
    QString caption;
    bool groupCaption = false;  // a group's caption: a label only
    ViewKind kind = ViewKind::None;
    // Four edit boxes bound to the first four numbers instead of one.
    bool address = false;
    // The digit runs of the first member's value.
    std::vector<PNumber> numbers;
    // The item has a second and a third member: its controls take hint, options and value.
    bool bindable = false;
    QString hint;
    QStringList choices;
    std::vector<int> values;  // the "CValues", for combo boxes

    // The parameter bound to the n-th control (0-based) of the item, or false when that
    // control stays unbound.
    bool BoundNumber(int n, PNumber* p) const;
};

struct PageDescription {
    std::vector<PageItem> items;
    bool stopped = false;  // a page member without members ended the page
};

// Turns a page object into its rows. Messages: "LJsonError3" for a page member without
// members (the page ends there) and for an item without members, "LJsonError6" for an item
// without "ViewType".
PageDescription DescribePage(const cJSON* page, Dialogs& dialogs);

// The combo box option that shows a stored value: the first position of its leading integer
// in values, else that integer itself when it is an option number, else -1. With an empty
// parameter set option 0.
int ComboIndexFor(const std::vector<int>& values, int optionCount, const QByteArray* stored,
                  bool setIsEmpty);
// The text a combo box stores for its selected option: the option's listed value, or the
// option index when the list has no such value or lists -1.
QByteArray ComboStoredText(const std::vector<int>& values, int index);
