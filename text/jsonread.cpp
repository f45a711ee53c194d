// Reading object data from JSON: every rule of docs/objectdata.schema.json checked by hand, each broken rule
// reported with the path of the value that breaks it.
#include "text/objectjson.h"

#include "text/jsonvalue.h"
#include "text/objecttext.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>
#include <set>

namespace brindlemark {

namespace {

// What a document without a version gets: the version of the bundles the editor writes.
constexpr std::int32_t kDefaultBundleVersion = 1;

const char* const kTypeNames[] = {"integer", "real", "unreal", "string"};

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The byte of "\xNN" at `at`, or -1.
int escapedByteAt(std::string_view text, std::size_t at) {
    if (text.size() - at < 4 || text[at] != '\\' || text[at + 1] != 'x')
        return -1;
    const int high = hexDigit(text[at + 2]);
    const int low = hexDigit(text[at + 3]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Four bytes written as dump writes them: printable ASCII but the backslash as it is, any byte as \xNN.
bool decodeIdentifier(std::string_view text, ObjectId& id) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        if (count == 4)
            return false;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            const int byte = escapedByteAt(text, i);
            if (byte < 0)
                return false;
            id.bytes[count] = static_cast<std::uint8_t>(byte);
            i += 4;
        } else if (c >= 0x20 && c < 0x7f) {
            id.bytes[count] = c;
            ++i;
        } else {
            return false;
        }
    }
    return count == 4;
}

// The bytes of a string value marked "escaped": \\ is a backslash and \xNN a byte. False with the character
// index of a backslash that starts neither.
bool unescapeText(std::string_view text, std::string& out, std::size_t& badAt) {
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '\\') {
            out += text[i++];
        } else if (text.substr(i, 2) == "\\\\") {
            out += '\\';
            i += 2;
        } else if (const int byte = escapedByteAt(text, i); byte >= 0) {
            out += static_cast<char>(byte);
            i += 4;
        } else {
            badAt = i;
            return false;
        }
    }
    return true;
}

// A piece of the input in a message: a long string or value cut short, so that a name or text of any length
// makes a message of a few lines.
std::string quotedPiece(std::string_view text) {
    return OrderedJson(jsonSafe(shortened(text))).dump();
}

std::string shownJson(const OrderedJson& value) {
    return value.is_string() ? quotedPiece(value.get_ref<const std::string&>()) : shortened(inlineJson(value));
}

std::string memberPath(const std::string& path, std::string_view name) {
    bool plain = !name.empty() && name.size() <= 64;
    for (char c : name)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
    if (plain)
        return path + "." + std::string(name);
    return path + "[" + quotedPiece(name) + "]";
}

std::string indexPath(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

class Reader {
public:
    Reader(std::vector<JsonProblem>& problems, const WarningSink& warn) : problems_(problems), warn_(warn) {}

    StringTable& texts() { return texts_; }

    bool ok() const { return problems_.empty(); }

    void bundle(const OrderedJson& doc, ObjectBundle& out, ObjectBundle& skin) {
        const std::string root = "$";
        if (!objectWith(doc, root, {"version", "kinds", "skin", "file"}))
            return;
        out.version = kDefaultBundleVersion;
        if (const OrderedJson* v = optional(doc, "version"))
            int32(*v, memberPath(root, "version"), out.version);
        if (const OrderedJson* file = doc.contains("file") ? &doc.at("file") : nullptr; file && !file->is_string())
            problem(memberPath(root, "file"), "must be a string");
        if (const OrderedJson* kinds = required(doc, root, "kinds"))
            kindsOf(*kinds, memberPath(root, "kinds"), out);
        if (const OrderedJson* kinds = optional(doc, "skin"))
            kindsOf(*kinds, memberPath(root, "skin"), skin);
    }

private:
    void problem(const std::string& path, std::string message) {
        if (problems_.size() < kMaxJsonProblems)
            problems_.push_back({path, std::move(message)});
    }

    // Whether `value` is an object; members other than `allowed` are reported.
    bool objectWith(const OrderedJson& value, const std::string& path,
                    std::initializer_list<std::string_view> allowed) {
        if (!value.is_object()) {
            problem(path, "must be an object");
            return false;
        }
        for (const auto& [name, member] : value.items()) {
            bool known = false;
            for (std::string_view a : allowed)
                known = known || name == a;
            if (!known)
                problem(memberPath(path, name), "is not part of the layout");
        }
        return true;
    }

    const OrderedJson* optional(const OrderedJson& object, const char* name) {
        const auto it = object.find(name);
        return it == object.end() ? nullptr : &*it;
    }

    const OrderedJson* required(const OrderedJson& object, const std::string& path, const char* name) {
        const OrderedJson* value = optional(object, name);
        if (!value)
            problem(memberPath(path, name), "is missing");
        return value;
    }

    bool int32(const OrderedJson& value, const std::string& path, std::int32_t& out,
               std::int64_t low = std::numeric_limits<std::int32_t>::min(),
               std::int64_t high = std::numeric_limits<std::int32_t>::max()) {
        const std::string range = "an integer from " + std::to_string(low) + " to " + std::to_string(high);
        if (!value.is_number_integer()) {
            problem(path, "must be " + range);
            return false;
        }
        const bool fits = value.is_number_unsigned()
                              ? value.get<std::uint64_t>() <= std::uint64_t(high)
                              : value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high;
        if (!fits) {
            problem(path, "must be " + range);
            return false;
        }
        out = static_cast<std::int32_t>(value.get<std::int64_t>());
        return true;
    }

    bool identifier(const OrderedJson& value, const std::string& path, ObjectId& out) {
        if (!value.is_string() || !decodeIdentifier(value.get_ref<const std::string&>(), out)) {
            problem(path, "must be an identifier of four bytes, each printable ASCII but the backslash, or "
                          "\\xNN; not " +
                              shownJson(value));
            return false;
        }
        return true;
    }

    void kindsOf(const OrderedJson& kinds, const std::string& kindsPath, ObjectBundle& out) {
        if (!kinds.is_object()) {
            problem(kindsPath, "must be an object");
            return;
        }
        for (const auto& [name, value] : kinds.items()) {
            std::optional<ObjectKind> kind;
            for (ObjectKind k : kAllObjectKinds)
                if (name == kindName(k))
                    kind = k;
            if (!kind)
                problem(memberPath(kindsPath, name),
                        "is not a kind (units, items, destructables, doodads, abilities, buffs, upgrades)");
        }
        // Kinds in file order, whatever order the document gives them.
        for (ObjectKind k : kAllObjectKinds)
            if (kinds.contains(kindName(k)))
                kindOf(kinds.at(kindName(k)), memberPath(kindsPath, kindName(k)), k, out.kind(k));
    }

    void kindOf(const OrderedJson& value, const std::string& path, ObjectKind k, ObjectBundle::Kind& out) {
        if (!objectWith(value, path, {"present", "version", "hasLevels", "standard", "custom"}))
            return;
        out.present = 1;
        if (const OrderedJson* present = optional(value, "present");
            present && int32(*present, memberPath(path, "present"), out.present) && out.present == 0)
            problem(memberPath(path, "present"), "must not be 0 (leave the kind out instead)");
        std::optional<std::int32_t> version = kMaxObjectFileVersion;
        if (const OrderedJson* v = optional(value, "version")) {
            std::int32_t number = 0;
            version = int32(*v, memberPath(path, "version"), number, 0, kMaxObjectFileVersion) ? std::optional(number)
                                                                                               : std::nullopt;
        }
        out.file.version = version.value_or(0);
        if (const OrderedJson* levels = optional(value, "hasLevels")) {
            if (!levels->is_boolean())
                problem(memberPath(path, "hasLevels"), "must be true or false");
            else if (levels->get<bool>() != kindHasLevels(k))
                problem(memberPath(path, "hasLevels"),
                        std::string("must be ") + (kindHasLevels(k) ? "true" : "false") + " for " + kindName(k));
        }
        for (const char* table : {"standard", "custom"}) {
            const OrderedJson* objects = optional(value, table);
            const std::string tablePath = memberPath(path, table);
            if (!objects)
                continue;
            if (!objects->is_array()) {
                problem(tablePath, "must be an array");
                continue;
            }
            for (std::size_t i = 0; i < objects->size(); ++i) {
                ObjectRecord record;
                object(objects->at(i), indexPath(tablePath, i), k, version, record);
                if (ok())
                    out.file.fileObject(std::move(record), MergePolicy::Glue, warn_);
            }
        }
    }

    void object(const OrderedJson& value, const std::string& path, ObjectKind k, std::optional<std::int32_t> version,
                ObjectRecord& out) {
        if (!objectWith(value, path, {"effectiveId", "baseId", "newId", "setFlag", "modifications"}))
            return;
        bool ids = true;
        for (auto [name, id] : {std::pair{"baseId", &out.baseId}, std::pair{"newId", &out.newId}}) {
            const OrderedJson* v = required(value, path, name);
            ids = v && identifier(*v, memberPath(path, name), *id) && ids;
        }
        if (const OrderedJson* v = optional(value, "effectiveId")) {
            ObjectId effective;
            if (identifier(*v, memberPath(path, "effectiveId"), effective) && ids && effective != out.effectiveId())
                problem(memberPath(path, "effectiveId"), "is " + escapedBytes(effective) +
                                                             ", but baseId and newId make the object " +
                                                             escapedBytes(out.effectiveId()));
        }
        if (const OrderedJson* v = optional(value, "setFlag");
            v && int32(*v, memberPath(path, "setFlag"), out.setFlag) && out.setFlag != 0 && version && *version < 3)
            problem(memberPath(path, "setFlag"), "must be 0: object file version " + std::to_string(*version) +
                                                     " keeps no set flags (version 3 does)");
        const OrderedJson* mods = required(value, path, "modifications");
        const std::string modsPath = memberPath(path, "modifications");
        if (!mods)
            return;
        if (!mods->is_array()) {
            problem(modsPath, "must be an array");
            return;
        }
        for (std::size_t i = 0; i < mods->size(); ++i) {
            Modification m;
            if (modification(mods->at(i), indexPath(modsPath, i), k, m))
                out.addOrReplace(std::move(m));
        }
    }

    bool modification(const OrderedJson& value, const std::string& path, ObjectKind k, Modification& m) {
        if (!objectWith(
                value, path,
                {"field", "level", "column", "type", "typeCode", "value", "bits", "escaped", "text", "strayBefore"}))
            return false;
        const std::size_t before = problems_.size();
        m.hasLevels = kindHasLevels(k);
        if (const OrderedJson* field = required(value, path, "field"))
            identifier(*field, memberPath(path, "field"), m.fieldId);
        for (auto [name, target] : {std::pair{"level", &m.level}, std::pair{"column", &m.dataColumn}}) {
            const OrderedJson* v = optional(value, name);
            if (v && !m.hasLevels)
                problem(memberPath(path, name), std::string(kindName(k)) + " have no level columns");
            else if (v)
                int32(*v, memberPath(path, name), *target);
        }
        if (const OrderedJson* stray = optional(value, "strayBefore")) {
            m.recovered = identifier(*stray, memberPath(path, "strayBefore"), m.endMarker);
        }
        if (!valueType(value, path, m))
            return false;
        const OrderedJson* v = optional(value, "value");
        const OrderedJson* bits = optional(value, "bits");
        const OrderedJson* escaped = optional(value, "escaped");
        const bool real = m.valueType == ModValueType::Real || m.valueType == ModValueType::Unreal;
        if (bits && !real)
            problem(memberPath(path, "bits"), "belongs to real values only");
        if (escaped && m.valueType != ModValueType::String)
            problem(memberPath(path, "escaped"), "belongs to string values only");
        if (optional(value, "text") && m.valueType != ModValueType::String)
            problem(memberPath(path, "text"), "belongs to string values only");
        switch (m.valueType) {
        case ModValueType::Integer:
            if (v || required(value, path, "value"))
                int32(*v, memberPath(path, "value"), m.intValue);
            break;
        case ModValueType::Real:
        case ModValueType::Unreal:
            realValue(v, bits, path, m);
            break;
        case ModValueType::String:
            if (v || required(value, path, "value"))
                stringValue(*v, escaped, path, m);
            if (const OrderedJson* text = optional(value, "text"))
                referenceText(*text, memberPath(path, "text"), m);
            break;
        default:
            if (v)
                problem(memberPath(path, "value"), "must be left out: a value of an unknown type has no value");
            if (!m.recovered && !optional(value, "strayBefore"))
                problem(memberPath(path, "strayBefore"),
                        "is missing: a value of an unknown type is only read after a stray value");
            break;
        }
        return problems_.size() == before;
    }

    // Sets the value type from "type" and "typeCode", which must agree; false when they do not say.
    bool valueType(const OrderedJson& value, const std::string& path, Modification& m) {
        const OrderedJson* type = optional(value, "type");
        const OrderedJson* code = optional(value, "typeCode");
        std::optional<std::int32_t> codeValue;
        if (code) {
            std::int32_t number = 0;
            if (!int32(*code, memberPath(path, "typeCode"), number))
                return false;
            codeValue = number;
        }
        if (!type) {
            if (!codeValue) {
                problem(memberPath(path, "type"), "is missing");
                return false;
            }
            m.valueType = static_cast<ModValueType>(*codeValue);
            return true;
        }
        std::optional<std::int32_t> named;
        bool unknown = false;
        if (type->is_string()) {
            for (std::int32_t i = 0; i < 4; ++i)
                if (*type == kTypeNames[i])
                    named = i;
            unknown = *type == "unknown";
        }
        if (!named && !unknown) {
            problem(memberPath(path, "type"), "must be one of \"integer\", \"real\", \"unreal\", \"string\", "
                                              "\"unknown\"");
            return false;
        }
        if (named && codeValue && *codeValue != *named) {
            problem(memberPath(path, "typeCode"), "is " + std::to_string(*codeValue) + ", but type " + type->dump() +
                                                      " has the code " + std::to_string(*named));
            return false;
        }
        if (unknown && !codeValue) {
            problem(memberPath(path, "typeCode"), "is missing: type \"unknown\" needs its code");
            return false;
        }
        if (unknown && isKnownValueType(static_cast<ModValueType>(*codeValue))) {
            problem(memberPath(path, "typeCode"), "is " + std::to_string(*codeValue) + ", the code of type \"" +
                                                      kTypeNames[*codeValue] + "\", not of an unknown type");
            return false;
        }
        m.valueType = static_cast<ModValueType>(named ? *named : *codeValue);
        return true;
    }

    void realValue(const OrderedJson* value, const OrderedJson* bitsText, const std::string& path, Modification& m) {
        const std::string valuePath = memberPath(path, "value");
        if (value && !value->is_number() && !value->is_null()) {
            problem(valuePath, "must be a number, or null for a value that is not finite");
            return;
        }
        if (bitsText) {
            const std::string bitsPath = memberPath(path, "bits");
            const bool form = bitsText->is_string() && bitsText->get_ref<const std::string&>().size() == 10 &&
                              bitsText->get_ref<const std::string&>().starts_with("0x");
            std::uint32_t bits = 0;
            bool digits = form;
            for (std::size_t i = 2; digits && i < 10; ++i) {
                const int d = hexDigit(bitsText->get_ref<const std::string&>()[i]);
                digits = d >= 0;
                bits = bits * 16 + static_cast<std::uint32_t>(d);
            }
            if (!digits) {
                problem(bitsPath, "must be \"0x\" and eight hexadecimal digits");
                return;
            }
            std::memcpy(&m.realValue, &bits, sizeof bits);
            if (value && value->is_number()) {
                const double number = value->get<double>();
                const bool agree =
                    realBits(static_cast<float>(number)) == bits ||
                    (std::isfinite(m.realValue) && std::strtod(shortestText(m.realValue).c_str(), nullptr) == number);
                if (!agree)
                    problem(bitsPath, "is " + hexBits(bits) + " (" + shortestText(m.realValue) + "), but value is " +
                                          value->dump() + "; change both or leave one out");
            }
            return;
        }
        if (!value) {
            problem(valuePath, "is missing");
            return;
        }
        if (value->is_null()) {
            problem(valuePath, "is null, which needs bits to give the value");
            return;
        }
        const double number = value->get<double>();
        m.realValue = static_cast<float>(number);
        if (!std::isfinite(m.realValue))
            problem(valuePath, "is beyond the range of a single-precision number");
    }

    void stringValue(const OrderedJson& value, const OrderedJson* escaped, const std::string& path, Modification& m) {
        const std::string valuePath = memberPath(path, "value");
        if (!value.is_string()) {
            problem(valuePath, "must be a string");
            return;
        }
        const std::string& text = value.get_ref<const std::string&>();
        if (escaped && !escaped->is_boolean()) {
            problem(memberPath(path, "escaped"), "must be true or false");
            return;
        }
        std::size_t badAt = 0;
        if (escaped && escaped->get<bool>()) {
            if (!unescapeText(text, m.stringValue, badAt)) {
                problem(valuePath, "has a backslash at character " + std::to_string(badAt) +
                                       " that starts neither \\\\ nor \\xNN");
                return;
            }
        } else {
            m.stringValue = text;
        }
        if (m.stringValue.find('\0') != std::string::npos)
            problem(valuePath, "holds a NUL character, which ends a string value in the file");
        else if (m.stringValue.size() > kMaxStringBytes)
            problem(valuePath, "is longer than " + std::to_string(kMaxStringBytes) + " bytes");
    }

    // The text a reference stood for where the objects came from: one text for each block number.
    void referenceText(const OrderedJson& value, const std::string& path, const Modification& m) {
        const std::optional<std::uint64_t> number = stringReference(m.stringValue);
        if (!value.is_string()) {
            problem(path, "must be a string");
            return;
        }
        if (!number)
            return; // it only tells what a reference stood for; a value edited into a text needs none
        const std::string& text = value.get_ref<const std::string&>();
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            const std::string_view line(text.data() + start, end - start);
            const std::size_t first = line.find_first_not_of(" \t\r");
            if (first != std::string_view::npos &&
                line.substr(first, line.find_last_not_of(" \t\r") + 1 - first) == "}") {
                problem(path, "has a line holding only }, which would end its block in the string table");
                return;
            }
            start = end + 1;
        }
        const auto [at, fresh] = textPaths_.emplace(*number, path);
        if (!fresh && texts_.find(*number) && *texts_.find(*number) != text) {
            problem(path, "is " + quotedPiece(text) + ", but " + at->second + " gives " + shortened(m.stringValue) +
                              " the text " + quotedPiece(*texts_.find(*number)));
            return;
        }
        texts_.set(*number, text);
    }

    std::vector<JsonProblem>& problems_;
    const WarningSink& warn_;
    StringTable texts_;
    std::map<std::uint64_t, std::string> textPaths_; // where each block's text was first given
};

} // namespace

namespace {

// Parses JSON text into `doc`. Refused, with a problem each: text that is not JSON (with its byte offset), a
// number beyond the range of a double and nesting deeper than kMaxJsonDepth (with the path where they stand), and
// a name that an object gives more than once (the parser would keep the last).
bool parseObjectJson(std::span<const std::uint8_t> bytes, OrderedJson& doc, std::vector<JsonProblem>& problems) {
    struct Frame {
        bool array = false;
        std::string path;
        std::size_t index = 0;
        std::string key;
        std::set<std::string> keys;
    };
    struct TooDeep {
        std::string path;
    };
    std::vector<Frame> frames;
    const auto childPath = [&frames] {
        if (frames.empty())
            return std::string("$");
        const Frame& parent = frames.back();
        return parent.array ? indexPath(parent.path, parent.index) : memberPath(parent.path, parent.key);
    };
    const auto elementDone = [&frames] {
        if (!frames.empty() && frames.back().array)
            ++frames.back().index;
    };
    using Event = OrderedJson::parse_event_t;
    const auto track = [&](int, Event event, OrderedJson& parsed) {
        switch (event) {
        case Event::object_start:
        case Event::array_start:
            if (frames.size() == kMaxJsonDepth)
                throw TooDeep{childPath()};
            frames.push_back({.array = event == Event::array_start, .path = childPath()});
            break;
        case Event::object_end:
        case Event::array_end:
            frames.pop_back();
            elementDone();
            break;
        case Event::key: {
            Frame& frame = frames.back();
            frame.key = parsed.get<std::string>();
            if (!frame.keys.insert(frame.key).second && problems.size() < kMaxJsonProblems)
                problems.push_back({memberPath(frame.path, frame.key),
                                    "is given more than once in its object; each name may stand once"});
            break;
        }
        case Event::value:
            elementDone();
            break;
        }
        return true;
    };
    try {
        doc = OrderedJson::parse(bytes.begin(), bytes.end(), track);
        return problems.empty();
    } catch (const TooDeep& deep) {
        problems.push_back({deep.path, "is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels"});
    } catch (const OrderedJson::out_of_range&) {
        // The one range error of parsing: a number whose value no double holds ("1e400").
        problems.push_back({childPath(), "is a number beyond the range of a double"});
    } catch (const OrderedJson::parse_error& e) {
        // The library's message starts with its own tag: "[json.exception.parse_error.101] parse error at ...", and
        // ends with the whole token it stopped in ("; last read: '...'"), which may be a string of any length.
        std::string what = e.what();
        if (const std::size_t tag = what.find("] "); tag != std::string::npos)
            what.erase(0, tag + 2);
        constexpr std::string_view kLastRead = "; last read: '";
        if (const std::size_t last = what.find(kLastRead); last != std::string::npos) {
            const std::size_t from = last + kLastRead.size();
            const std::size_t end = what.rfind('\'');
            if (end != std::string::npos && end >= from)
                what = what.substr(0, from) + shortened(what.substr(from, end - from)) + what.substr(end);
        }
        problems.push_back({"", "not JSON, at byte " + std::to_string(e.byte) + ": " + jsonSafe(what)});
    }
    doc = nullptr;
    return false;
}

} // namespace

bool readBundleJson(std::span<const std::uint8_t> bytes, JsonBundle& out, std::vector<JsonProblem>& problems,
                    const WarningSink& warn) {
    problems.clear();
    OrderedJson doc;
    if (!parseObjectJson(bytes, doc, problems))
        return false;
    Reader reader(problems, warn);
    reader.bundle(doc, out.bundle, out.skin);
    out.texts = std::move(reader.texts());
    return reader.ok();
}

} // namespace brindlemark
