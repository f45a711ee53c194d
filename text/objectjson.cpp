// Writing object data as JSON. Reading it back is in jsonread.cpp.
#include "text/objectjson.h"

#include "text/jsonvalue.h"

#include "text/objecttext.h"
#include "text/textescape.h"

#include <cmath>
#include <cstdlib>

namespace brindlemark {

std::string jsonSafe(std::string_view text) {
    return isUtf8(text) ? std::string(text) : escapeNonUtf8(text);
}

OrderedJson modificationJson(const Modification& m, const StringTable* strings) {
    OrderedJson j;
    j["field"] = escapedBytes(m.fieldId);
    if (m.hasLevels) {
        j["level"] = m.level;
        j["column"] = m.dataColumn;
    }
    j["type"] = typeName(m.valueType);
    switch (m.valueType) {
    case ModValueType::Integer:
        j["value"] = m.intValue;
        break;
    case ModValueType::Real:
    case ModValueType::Unreal:
        // JSON has no NaN or infinity; the bits always give the exact value.
        if (std::isfinite(m.realValue))
            j["value"] = std::strtod(shortestText(m.realValue).c_str(), nullptr);
        else
            j["value"] = nullptr;
        j["bits"] = hexBits(realBits(m.realValue));
        break;
    case ModValueType::String:
        if (isUtf8(m.stringValue)) {
            j["value"] = m.stringValue;
        } else {
            j["value"] = escapeNonUtf8(m.stringValue);
            j["escaped"] = true;
        }
        if (const std::optional<std::uint64_t> number = strings ? stringReference(m.stringValue) : std::nullopt)
            if (const std::string* text = strings->find(*number))
                j["text"] = jsonSafe(*text);
        break;
    default:
        j["typeCode"] = static_cast<std::int32_t>(m.valueType);
        break;
    }
    if (m.recovered)
        j["strayBefore"] = escapedBytes(m.endMarker);
    return j;
}

std::string shortened(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 sequence
    return std::string(text.substr(0, cut)) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string inlineJson(const OrderedJson& value) {
    if (value.is_object()) {
        std::string text = "{";
        const char* separator = "";
        for (const auto& [name, member] : value.items()) {
            text += separator + OrderedJson(name).dump() + ": " + inlineJson(member);
            separator = ", ";
        }
        return text + "}";
    }
    if (value.is_array()) {
        std::string text = "[";
        const char* separator = "";
        for (const OrderedJson& member : value) {
            text += separator + inlineJson(member);
            separator = ", ";
        }
        return text + "]";
    }
    return value.dump();
}

namespace {

void writeTable(const ObjectTable& table, const std::function<void(std::string_view)>& out,
                const StringTable* strings) {
    if (table.empty()) {
        out("[]");
        return;
    }
    out("[");
    const char* separator = "\n    ";
    for (const ObjectRecord& record : table.objects()) {
        OrderedJson head;
        head["effectiveId"] = escapedBytes(record.effectiveId());
        head["baseId"] = escapedBytes(record.baseId);
        head["newId"] = escapedBytes(record.newId);
        head["setFlag"] = record.setFlag;
        std::string text = separator + inlineJson(head);
        text.pop_back(); // the modifications follow inside the same braces
        if (record.modificationCount() == 0) {
            text += ", \"modifications\": []}";
        } else {
            text += ", \"modifications\": [";
            const char* comma = "";
            for (const Modification& m : record.modifications()) {
                text += comma;
                text += "\n     " + inlineJson(modificationJson(m, strings));
                comma = ",";
            }
            text += "\n    ]}";
        }
        out(text);
        separator = ",\n    ";
    }
    out("\n   ]");
}

} // namespace

namespace {

// The kinds the bundle holds, as the members of an object: ",\n  \"units\": {...}" each.
void writeKindsJson(const ObjectBundle& bundle, const std::function<void(std::string_view)>& out,
                    const StringTable* strings) {
    const char* separator = "\n  ";
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectBundle::Kind& kind = bundle.kind(k);
        if (kind.present == 0)
            continue;
        out(separator + OrderedJson(kindName(k)).dump() + ": {\n   \"present\": " + std::to_string(kind.present) +
            ",\n   \"version\": " + std::to_string(kind.file.version) +
            ",\n   \"hasLevels\": " + (kind.file.hasLevels ? "true" : "false") + ",\n   \"standard\": ");
        writeTable(kind.file.standardTable, out, strings);
        out(",\n   \"custom\": ");
        writeTable(kind.file.customTable, out, strings);
        out("\n  }");
        separator = ",\n  ";
    }
    out(*separator == ',' ? "\n }" : "}");
}

} // namespace

bool holdsAnyKind(const ObjectBundle& bundle) {
    for (ObjectKind k : kAllObjectKinds)
        if (bundle.kind(k).present != 0)
            return true;
    return false;
}

void writeBundleJson(const ObjectBundle& bundle, const std::function<void(std::string_view)>& out,
                     const ObjectBundle* skin, const StringTable* strings) {
    out("{\n \"version\": " + std::to_string(bundle.version) + ",\n \"kinds\": {");
    writeKindsJson(bundle, out, strings);
    if (skin && holdsAnyKind(*skin)) {
        out(",\n \"skin\": {");
        writeKindsJson(*skin, out, strings);
    }
    out("\n}\n");
}

namespace {

// The value of a field without its place, which the change gives once.
OrderedJson valueJson(const Modification* m) {
    if (!m)
        return nullptr;
    OrderedJson j = modificationJson(*m);
    for (const char* key : {"field", "level", "column"})
        j.erase(key);
    return j;
}

OrderedJson objectJson(const ObjectChange& c, const DiffLabels& labels) {
    OrderedJson j;
    if (const std::optional<ObjectKind> kind = labels.kind(c.kind))
        j["kind"] = kindName(*kind);
    j["table"] = tableName(c.table);
    j["id"] = escapedBytes((c.after ? *c.after : *c.before).effectiveId());
    if (const std::optional<std::string> name = labels.name(c))
        j["name"] = jsonSafe(*name);
    return j;
}

} // namespace

std::string diffJson(const BundleDiff& diff, const BundleDiff* skinDiff, const DiffLabels& labels) {
    OrderedJson doc;
    doc["equal"] = diff.empty() && (!skinDiff || skinDiff->empty());
    doc["versions"] = OrderedJson::array();
    OrderedJson onlyA = OrderedJson::array();
    OrderedJson onlyB = OrderedJson::array();
    OrderedJson changed = OrderedJson::array();
    for (const BundleDiff* from : {&diff, skinDiff}) {
        if (!from)
            continue;
        const bool skin = from == skinDiff;
        for (const VersionChange& v : from->versions) {
            OrderedJson j;
            if (const std::optional<ObjectKind> kind = labels.kind(v.kind))
                j["kind"] = kindName(*kind);
            if (skin)
                j["skin"] = true;
            j["old"] = v.before;
            j["new"] = v.after;
            doc["versions"].push_back(j);
        }
        for (const ObjectChange& c : from->objects) {
            OrderedJson j = objectJson(c, labels);
            if (skin)
                j["skin"] = true;
            if (!c.after) {
                onlyA.push_back(std::move(j));
                continue;
            }
            if (!c.before) {
                onlyB.push_back(std::move(j));
                continue;
            }
            for (const HeaderChange& h : headerChanges(*c.before, *c.after))
                j[h.key] = {{"old", h.before}, {"new", h.after}};
            j["fields"] = OrderedJson::array();
            for (const FieldChange& f : c.fields) {
                const Modification& slot = f.before ? *f.before : *f.after;
                OrderedJson field;
                field["field"] = escapedBytes(slot.fieldId);
                if (slot.hasLevels) {
                    field["level"] = slot.level;
                    field["column"] = slot.dataColumn;
                }
                field["old"] = valueJson(f.before);
                field["new"] = valueJson(f.after);
                j["fields"].push_back(std::move(field));
            }
            changed.push_back(std::move(j));
        }
    }
    doc["onlyInA"] = std::move(onlyA);
    doc["onlyInB"] = std::move(onlyB);
    doc["changed"] = std::move(changed);
    return doc.dump(1) + "\n";
}

} // namespace brindlemark
