// libFuzzer target: the in-place update of an XML template. The input gives the file as it
// lies on disk (its first part, up to a backslash) and the changed parameters with their new
// values (the rest).
#include "FuzzSupport.h"
#include "config/XmlFile.h"

#include <tinyxml2.h>
#include <set>

using namespace fuzz;

namespace {

QByteArray rootName(const QByteArray& text) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.constData(), static_cast<size_t>(text.size())) != tinyxml2::XML_SUCCESS ||
        !doc.RootElement())
        return {};
    return doc.RootElement()->Name();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const QByteArray before = takeBytes(in, 16384);
    std::set<PNumber> changed;
    ParameterSet params;
    const int count = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) {
        const PNumber p = in.ConsumeIntegralInRange<PNumber>(0, in.ConsumeBool() ? 20 : 100000);
        changed.insert(p);
        if (in.ConsumeBool()) {
            const QByteArray value = takeBytes(in, 40);
            params.InsertFirst(p, value);
        }
    }
    params.InsertFirst(in.ConsumeIntegralInRange<PNumber>(0, 30), "unchanged");

    const QString path = scratchDir() + "/template.xml";
    FUZZ_CHECK(writeFile(path, before));
    QFile::remove(path + "~");
    ParameterSet oldParams;
    const XmlReadStatus oldStatus = ReadXmlFile(path, oldParams);

    const std::set<PNumber> changedBefore = changed;
    const ParameterSet paramsBefore = params;
    const XmlUpdateStatus status = UpdateXmlFile(path, params, changed);
    const QByteArray after = readFile(path);
    FUZZ_CHECK(!QFile::exists(path + "~"));

    switch (status) {
        case XmlUpdateStatus::NoChanges:
            FUZZ_CHECK(changedBefore.empty());
            [[fallthrough]];
        case XmlUpdateStatus::Refused:
            // The file, the set and the changed list stay as they were.
            FUZZ_CHECK(after == before && changed == changedBefore && params == paramsBefore);
            // Only a file without a "zv_provision" root holding "config" is refused.
            if (status == XmlUpdateStatus::Refused)
                FUZZ_CHECK(oldStatus != XmlReadStatus::Ok || rootName(before) != "zv_provision");
            return 0;
        case XmlUpdateStatus::Updated:
            break;
        default:
            FUZZ_CHECK(!"the file existed, so the update neither creates nor fails to save");
    }
    FUZZ_CHECK(!changedBefore.empty() && changed.empty());
    FUZZ_CHECK(rootName(before) == "zv_provision");
    // A changed number with an element but no entry got an empty entry; nothing else changed.
    for (const auto& [p, value] : params)
        FUZZ_CHECK(paramsBefore.Contains(p) ? paramsBefore.Value(p) == value
                                            : changedBefore.count(p) && value.isEmpty());
    // The XML library takes some documents that are not well-formed, and what it prints of
    // them it may not read again (text after the root that it took only before a stray end
    // tag); for them, the update only has to keep the promises above.
    if (!xmlWellFormed(before))
        return 0;
    FUZZ_CHECK(xmlWellFormed(after) && rootName(after) == "zv_provision");

    // The updated file still parses; where it was readable it reads back with the new values of
    // the changed parameters and the old values of the others.
    ParameterSet newParams;
    const XmlReadStatus newStatus = ParseXmlText(after, newParams);
    FUZZ_CHECK(newStatus != XmlReadStatus::Unparsable);
    FUZZ_CHECK(newStatus == oldStatus);
    if (newStatus != XmlReadStatus::Ok)
        return 0;
    // (A value XML cannot hold whole reads back as what is left of it.)
    for (PNumber p : changedBefore) {
        const QByteArray* value = newParams.Find(p);
        FUZZ_CHECK(value != nullptr);
        if (xmlCharacters(params.Value(p)))
            FUZZ_CHECK(*value == params.Value(p));
        else
            FUZZ_CHECK(xmlCharacters(*value) && leftOf(*value, params.Value(p)));
    }
    for (const auto& [p, value] : oldParams) {
        if (!changedBefore.count(p) && xmlCharacters(value))
            FUZZ_CHECK(newParams.Find(p) && *newParams.Find(p) == value);
    }
    for (const auto& [p, value] : newParams)
        FUZZ_CHECK(oldParams.Contains(p) || changedBefore.count(p));
    return 0;
}
