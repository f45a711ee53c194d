#include "cli/objectinput.h"

#include "cli/command.h"

#include "core/fileio.h"
#include "core/layoutdetect.h"
#include "document/document.h"
#include "document/mainform.h"
#include "replace/renaming.h"

namespace brindlemark::cli {

bool loadObjectInput(const Argument& file, ObjectInput& input, bool skinApart) {
    // A file whose name tells its form is read as that form; any other by its bytes below.
    if (formOf(file.path) != MainForm::Unknown) {
        MainView view;
        if (!loadView(file, view, skinApart))
            return false;
        const std::optional<ObjectKind> single = singleKindOf(file.path);
        input.form = view.ownStrings ? ObjectInput::Form::Map
                     : single        ? ObjectInput::Form::SingleKind
                                     : ObjectInput::Form::Bundle;
        input.kind = view.ownStrings ? ObjectKind::Units : single.value_or(ObjectKind::Units);
        input.bundle = std::move(view.objects);
        input.skin = std::move(view.skin);
        input.strings = std::move(view.strings);
        return true;
    }
    const std::string name = pathText(file.path);
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readFile(file.path, bytes, error)) {
        printError(error);
        return false;
    }
    // A merge driver's base is empty when both sides added the file.
    if (bytes.empty())
        return true;
    const WarningSink warn = [name](const std::string& line) { printError(name + ": " + line); };
    FileLayout layout = FileLayout::Bundle;
    const LoadResult loaded = loadDetected(input.bundle, bytes, name, layout, warn);
    if (!loaded) {
        printError(loaded.error);
        return false;
    }
    if (layout != FileLayout::Bundle) {
        input.form = ObjectInput::Form::SingleKind;
        input.kind = standInKind(layout);
        input.kindKnown = false;
    }
    return true;
}

std::optional<ObjectKind> kindLabel(const ObjectInput& input, ObjectKind kind) {
    if (input.form == ObjectInput::Form::SingleKind && !input.kindKnown)
        return std::nullopt;
    return kind;
}

std::optional<std::string> objectName(const ObjectRecord& record, const StringTable& strings) {
    std::optional<std::string> name = findDisplayName(record);
    if (name)
        name = strings.resolve(*name);
    return name;
}

std::optional<std::string> objectName(const ObjectInput& input, ObjectKind kind, const ObjectRecord& record) {
    if (std::optional<std::string> name = objectName(record, input.strings))
        return name;
    for (const ObjectBundle* other : {&input.bundle, &input.skin}) {
        const ObjectFile& file = other->kind(kind).file;
        for (const ObjectTable* table : {&file.standardTable, &file.customTable})
            if (const std::size_t at = table->indexOf(record.effectiveId());
                at != table->count() && &table->at(at) != &record)
                if (std::optional<std::string> name = objectName(table->at(at), input.strings))
                    return name;
    }
    return std::nullopt;
}

} // namespace brindlemark::cli
