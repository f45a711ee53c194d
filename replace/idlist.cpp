#include "replace/idlist.h"

#include "core/fileio.h"
#include "replace/renaming.h"

namespace brindlemark {

namespace {

// The name on one line: each line break in it (CR LF, LF or CR) becomes one space, so that the list stays a
// list whose every line is a unit.
void appendOnOneLine(std::string& out, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
    }
}

} // namespace

std::string idListText(const ObjectBundle& bundle, const StringTable* strings) {
    // Planning "%%%%" to "____" lists every identifier without a NUL byte, with its name; the sentinel result
    // renames and moves nothing, so the bundle is only read.
    const ObjectId all = ObjectId::fromText("%%%%");
    RenameList list(true);
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& file = bundle.kind(k).file;
        for (const ObjectTable* table : {&file.standardTable, &file.customTable})
            for (const ObjectRecord& record : table->objects()) {
                RenameEntry entry = planRename(record, all, kSentinelId);
                if (entry.isChange())
                    list.insert(std::move(entry));
            }
    }
    std::string out;
    for (const RenameEntry& entry : list.entries()) {
        const std::string id = entry.fromId.text();
        out += id;
        out += '\t';
        out += id;
        if (entry.displayName) {
            out += "\t// ";
            appendOnOneLine(out, strings ? strings->resolve(*entry.displayName) : *entry.displayName);
        }
        out += "\r\n";
    }
    return out;
}

bool writeIdList(const ObjectBundle& bundle, const std::filesystem::path& path, std::string& error,
                 const StringTable* strings) {
    const std::string text = idListText(bundle, strings);
    return saveBytes(path, text.data(), text.size(), error);
}

} // namespace brindlemark
