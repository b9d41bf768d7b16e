// libFuzzer target: the model's JSON descriptions. The input is written as a model's
// "$outline.json" and as a page file of the same folder; the outline is built from it, and the
// page is resolved whole and by each of its sections and turned into rows of controls.
#include "FuzzSupport.h"
#include "visual/CfgOutline.h"
#include "visual/DescriptionCache.h"
#include "visual/JsonFile.h"
#include "visual/PageDescription.h"

#include <QDir>

using namespace fuzz;

namespace {

const char kKnownOutline[] =
    R"({"X": {"Account": "account.json", "Lines": {"Line 1": "line.json?Line1"}}})";

void checkOutline(const QString& jsonDir) {
    QuietDialogs dialogs;
    CfgOutline outline;
    const JsonTree known = ParseJsonText(kKnownOutline);
    FUZZ_CHECK(outline.Build(known.get(), dialogs) && outline.NodeCount() == 3);
    const std::vector<CfgOutline::Node> before = outline.Nodes();

    if (!outline.Load(jsonDir, dialogs)) {
        // A refused outline leaves the one before in place, and says why.
        FUZZ_CHECK(!dialogs.shown.isEmpty());
        const QString last = dialogs.shown.last();
        FUZZ_CHECK(last == "LJsonError1" || last == "LJsonError2" || last == "LJsonError3");
        FUZZ_CHECK(outline.NodeCount() == 3 && outline.PictureKeys().Count() == 3);
        for (int i = 0; i < 3; ++i)
            FUZZ_CHECK(outline.Nodes()[i].caption == before[i].caption &&
                       outline.Nodes()[i].reference == before[i].reference);
        return;
    }
    FUZZ_CHECK(dialogs.shown.isEmpty());
    // One level of groups: a child's parent is a top-level group shown before it, without a
    // page; every node adds at most one picture key, each key once.
    const std::vector<CfgOutline::Node>& nodes = outline.Nodes();
    for (int i = 0; i < outline.NodeCount(); ++i) {
        const CfgOutline::Node& node = nodes[i];
        if (node.parent >= 0) {
            FUZZ_CHECK(node.parent < i && nodes[node.parent].parent == -1);
            FUZZ_CHECK(nodes[node.parent].reference.isEmpty());
        }
        FUZZ_CHECK(outline.Reference(i) == node.reference);
        if (node.parent < 0 && !node.reference.isEmpty()) {
            const qsizetype dot = node.reference.indexOf('.');
            FUZZ_CHECK(
                outline.PictureKeyPosition(dot < 0 ? QByteArray() : node.reference.left(dot)) >= 0);
        }
    }
    FUZZ_CHECK(outline.PictureKeys().Count() <= outline.NodeCount());
    for (int i = 0; i < outline.PictureKeys().Count(); ++i)
        FUZZ_CHECK(outline.PictureKeys().IndexOf(outline.PictureKeys().At(i)) == i);
    FUZZ_CHECK(outline.Reference(-1).isEmpty() && outline.Reference(outline.NodeCount()).isEmpty());
}

// A stored value shows an option that stores the same value again; any stored text shows an
// option or none.
void checkCombo(const PageItem& item, const QByteArray& stored) {
    const int count = static_cast<int>(item.choices.size());
    for (int i = 0; i < count && i < 64; ++i) {
        const QByteArray text = ComboStoredText(item.values, i);
        const int shown = ComboIndexFor(item.values, count, &text, false);
        FUZZ_CHECK(shown >= 0 && shown < count);
        FUZZ_CHECK(ComboStoredText(item.values, shown) == text);
    }
    const int shown = ComboIndexFor(item.values, count, &stored, false);
    FUZZ_CHECK(shown >= -1 && shown < count);
    FUZZ_CHECK(ComboIndexFor(item.values, count, nullptr, true) == (count > 0 ? 0 : -1));
}

void checkPage(const cJSON* page, const QByteArray& stored) {
    QuietDialogs dialogs;
    const PageDescription description = DescribePage(page, dialogs);
    if (description.stopped)
        FUZZ_CHECK(!dialogs.shown.isEmpty() && dialogs.shown.last() == "LJsonError3");
    int row = -1;
    for (const PageItem& item : description.items) {
        FUZZ_CHECK(item.row > row);
        row = item.row;
        if (item.groupCaption)
            FUZZ_CHECK(item.kind == ViewKind::None && !item.bindable);
        if (item.address)
            FUZZ_CHECK(item.kind == ViewKind::Edit && item.numbers.size() >= 4);
        for (int n = -1; n <= static_cast<int>(item.numbers.size()); ++n) {
            PNumber p = -1;
            if (item.BoundNumber(n, &p))
                FUZZ_CHECK(item.bindable && n >= 0 && p == item.numbers[n]);
        }
        if (item.kind == ViewKind::ComboBox)
            checkCombo(item, stored);
    }
}

void checkPages(const QString& jsonDir, const cJSON* parsed, const QByteArray& stored) {
    QuietDialogs dialogs;
    DescriptionCache cache;
    const cJSON* whole = ResolvePage("page.json", jsonDir, cache, dialogs);
    FUZZ_CHECK(cache.DiskReads() == 1);
    // The file resolves when it parses as an object or array with members; the page is then its
    // first member.
    const bool readable = parsed && JsonHasMembers(parsed);
    FUZZ_CHECK((whole != nullptr) == readable);
    FUZZ_CHECK(dialogs.shown.isEmpty() == readable);
    if (!whole)
        return;
    checkPage(whole, stored);
    FUZZ_CHECK(ResolvePage("page.json?", jsonDir, cache, dialogs) == whole);

    // Each section resolves to the first member of that name, from the cache.
    int sections = 0;
    for (const cJSON* member = JsonFirst(whole); member && sections < 16;
         member = member->next, ++sections) {
        const QByteArray key = JsonKey(member);
        if (key.isEmpty() || key.contains('\0'))
            continue;
        const cJSON* page = ResolvePage("page.json?" + key, jsonDir, cache, dialogs);
        FUZZ_CHECK(page && JsonKey(page) == key);
        for (const cJSON* m = JsonFirst(whole); m != page; m = m->next)
            FUZZ_CHECK(JsonKey(m) != key);
        checkPage(page, stored);
    }
    // A section that no member names.
    QByteArray absent = "none";
    for (const cJSON* m = JsonFirst(whole); m; m = m->next)
        if (JsonKey(m).startsWith(absent))
            absent = JsonKey(m) + "+";
    dialogs.shown.clear();
    FUZZ_CHECK(!ResolvePage("page.json?" + absent, jsonDir, cache, dialogs));
    FUZZ_CHECK(dialogs.shown == QStringList{JsonHasMembers(whole) ? "LJsonError5" : "LJsonError3"});
    FUZZ_CHECK(cache.DiskReads() == 1 && cache.Count() == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text = bytes(data, size);
    const QString jsonDir = scratchDir() + "/json/";
    QDir().mkpath(jsonDir);
    FUZZ_CHECK(writeFile(jsonDir + "$outline.json", text));
    FUZZ_CHECK(writeFile(jsonDir + "page.json", text));
    checkOutline(jsonDir);
    const JsonTree parsed = text.isEmpty() ? nullptr : ParseJsonText(text);
    checkPages(jsonDir, parsed.get(), text.right(12));
    return 0;
}
