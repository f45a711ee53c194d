#include "text/objecttext.h"

#include "text/textescape.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace brindlemark {

const char* typeName(ModValueType type) {
    switch (type) {
    case ModValueType::Integer:
        return "integer";
    case ModValueType::Real:
        return "real";
    case ModValueType::Unreal:
        return "unreal";
    case ModValueType::String:
        return "string";
    }
    return "unknown";
}

std::uint32_t realBits(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string hexBits(std::uint32_t bits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(bits));
    return text;
}

std::string shortestText(float value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string fieldSlotText(const Modification& m) {
    std::string text = escapedBytes(m.fieldId);
    if (m.hasLevels)
        text += " level " + std::to_string(m.level) + " column " + std::to_string(m.dataColumn);
    return text;
}

std::string valueText(const Modification* m) {
    if (!m)
        return "none";
    std::string text;
    switch (m->valueType) {
    case ModValueType::Integer:
        text = "integer " + std::to_string(m->intValue);
        break;
    case ModValueType::Real:
    case ModValueType::Unreal:
        text = std::string(typeName(m->valueType)) + " " + shortestText(m->realValue) + " (bits " +
               hexBits(realBits(m->realValue)) + ")";
        break;
    case ModValueType::String:
        text = "string " + quotedText(m->stringValue);
        break;
    default:
        text = "type " + std::to_string(static_cast<std::int32_t>(m->valueType)) + " (unknown, no value)";
        break;
    }
    if (m->recovered)
        text += ", stray value " + escapedBytes(m->endMarker) + " before it";
    return text;
}

std::string objectText(std::optional<ObjectKind> kind, TableSide table, const ObjectRecord& record,
                       const std::optional<std::string>& name) {
    std::string text;
    if (kind)
        text = std::string(kindName(*kind)) + " ";
    text += std::string(tableName(table)) + " " + escapedBytes(record.effectiveId());
    if (name)
        text += " " + quotedText(*name);
    return text;
}

std::vector<HeaderChange> headerChanges(const ObjectRecord& a, const ObjectRecord& b) {
    std::vector<HeaderChange> changes;
    if (a.baseId != b.baseId)
        changes.push_back({"base id", "baseId", escapedBytes(a.baseId), escapedBytes(b.baseId)});
    if (a.newId != b.newId)
        changes.push_back({"new id", "newId", escapedBytes(a.newId), escapedBytes(b.newId)});
    if (a.setFlag != b.setFlag)
        changes.push_back({"set flag", "setFlag", std::to_string(a.setFlag), std::to_string(b.setFlag)});
    return changes;
}

} // namespace brindlemark
