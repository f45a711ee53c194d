#include "core/modification.h"

namespace brindlemark {

bool Modification::read(ByteReader& in, bool withLevels) {
    hasLevels = withLevels;
    auto readHeader = [&] {
        std::int32_t type = 0;
        if (!in.readId(fieldId) || !in.readI32(type))
            return false;
        valueType = static_cast<ModValueType>(type);
        return !hasLevels || (in.readI32(level) && in.readI32(dataColumn));
    };
    if (!readHeader())
        return false;
    if (!isKnownValueType(valueType)) {
        recovered = true;
        endMarker = fieldId;
        in.stepBack(hasLevels ? 12 : 4);
        if (!readHeader())
            return false;
    }
    switch (valueType) {
    case ModValueType::Integer:
        if (!in.readI32(intValue))
            return false;
        break;
    case ModValueType::Real:
    case ModValueType::Unreal:
        if (!in.readF32(realValue))
            return false;
        break;
    case ModValueType::String:
        if (!in.readCString(stringValue, kMaxStringBytes + 1))
            return false;
        break;
    default:
        break;
    }
    ObjectId marker;
    return in.readId(marker);
}

void Modification::write(ByteWriter& out, ObjectId defaultMarker) const {
    if (recovered)
        out.writeId(endMarker);
    out.writeId(fieldId);
    out.writeI32(static_cast<std::int32_t>(valueType));
    if (hasLevels) {
        out.writeI32(level);
        out.writeI32(dataColumn);
    }
    switch (valueType) {
    case ModValueType::Integer:
        out.writeI32(intValue);
        break;
    case ModValueType::Real:
    case ModValueType::Unreal:
        out.writeF32(realValue);
        break;
    case ModValueType::String:
        out.writeCString(stringValue);
        break;
    default:
        break;
    }
    out.writeId(defaultMarker);
}

void Modification::assignFrom(const Modification& from) {
    fieldId = from.fieldId;
    valueType = from.valueType;
    hasLevels = from.hasLevels;
    level = from.level;
    dataColumn = from.dataColumn;
    intValue = from.valueType == ModValueType::Integer ? from.intValue : 0;
    realValue = (from.valueType == ModValueType::Real || from.valueType == ModValueType::Unreal) ? from.realValue : 0;
    if (from.valueType == ModValueType::String)
        stringValue = from.stringValue;
    else
        stringValue.clear();
    endMarker = from.endMarker;
    recovered = from.recovered;
}

bool Modification::sameValueAs(const Modification& other) const {
    if (fieldId != other.fieldId || valueType != other.valueType || hasLevels != other.hasLevels ||
        endMarker != other.endMarker || recovered != other.recovered)
        return false;
    if (hasLevels && (level != other.level || dataColumn != other.dataColumn))
        return false;
    switch (valueType) {
    case ModValueType::Integer:
        return intValue == other.intValue;
    case ModValueType::Real:
    case ModValueType::Unreal:
        return std::memcmp(&realValue, &other.realValue, sizeof realValue) == 0;
    case ModValueType::String:
        return stringValue == other.stringValue;
    default:
        return true;
    }
}

} // namespace brindlemark
