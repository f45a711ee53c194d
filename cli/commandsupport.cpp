#include "cli/command.h"

#include "core/fileio.h"
#include "core/messagesink.h"
#include "core/objectbundle.h"
#include "document/document.h"
#include "merge/mergecommand.h"

#include <algorithm>
#include <cstdio>

namespace brindlemark::cli {

void printError(std::string_view message) {
    // Each line, so that every line on standard error says which program wrote it.
    std::string text;
    for (std::size_t start = 0; start <= message.size();) {
        const std::size_t end = std::min(message.find('\n', start), message.size());
        text += std::string(kProgramName) + ": " + std::string(message.substr(start, end - start)) + "\n";
        start = end + 1;
    }
    std::fputs(text.c_str(), stderr);
}

bool lockRunFiles(FileLocks& locks, const std::vector<std::filesystem::path>& paths) {
    std::vector<std::filesystem::path> files;
    for (const std::filesystem::path& path : paths)
        if (path != std::filesystem::path("-"))
            files.push_back(path);
    std::string error;
    if (!locks.acquire(files, error)) {
        printError(error);
        return false;
    }
    for (const std::string& line : locks.recovered)
        printError(line);
    return true;
}

void printOut(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

bool loadView(const Argument& file, MainView& view, bool skinApart) {
    const std::string name = pathText(file.path);
    // Warnings must not reach standard output, where they would mix with a listing or JSON.
    const WarningSink warn = [name](const std::string& line) { printError(name + ": " + line); };
    std::string error;
    if (!readMainView(file.path, skinApart, warn, view, error)) {
        printError(error);
        return false;
    }
    return true;
}

bool checkOutput(std::string_view command, const Argument& out, std::span<const Argument> inputs, bool mayBeInput) {
    if (out.text == "-")
        return true;
    for (const Argument& in : inputs)
        if (!mayBeInput && sameFile(in.path, out.path)) {
            printError(std::string(command) + ": the output " + out.text + " is the input " + in.text +
                       "; it would be lost, so nothing was written");
            return false;
        }
    std::string error;
    if (!checkReplaceable(writeTarget(out.path), error)) {
        printError(error);
        return false;
    }
    return true;
}

bool checkOutputForm(std::string_view command, const Argument& out, const ObjectBundle& data,
                     std::string_view dataName) {
    if (out.text == "-")
        return true;
    if (const std::string refused = mapRefusal(out.path, out.text,
                                               "; " + std::string(command) +
                                                   " writes a bundle (.w3o) or an object file, so nothing was written");
        !refused.empty()) {
        printError(std::string(command) + ": " + refused);
        return false;
    }
    const std::optional<ObjectKind> single = singleKindOf(out.path);
    if (!single)
        return true;
    std::string others;
    for (ObjectKind k : kAllObjectKinds)
        if (k != *single && data.kind(k).present != 0)
            others += (others.empty() ? "" : ", ") + std::string(kindName(k));
    if (others.empty())
        return true;
    printError(std::string(command) + ": " + out.text + " holds " + kindName(*single) + " only, but " +
               std::string(dataName) + " holds " + others + "; nothing was written");
    return false;
}

bool writeOutput(const Argument& out, std::span<const std::uint8_t> bytes) {
    if (out.text == "-") {
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
        if (!ok)
            printError("cannot write to standard output");
        return ok;
    }
    std::string error;
    if (!saveBytes(out.path, bytes.data(), bytes.size(), error)) {
        printError(error);
        return false;
    }
    return true;
}

bool parsePolicy(std::string_view text, MergePolicy& policy) {
    if (text == "overwrite")
        policy = MergePolicy::Overwrite;
    else if (text == "glue")
        policy = MergePolicy::Glue;
    else if (text == "keep")
        policy = MergePolicy::Keep;
    else
        return false;
    return true;
}

int policyError(std::string_view command, std::string_view text) {
    printError(std::string(command) + ": unknown policy '" + std::string(text) + "' (overwrite, glue or keep)");
    return kExitUsage;
}

WarningSink loadWarningsOf(const Argument& file) {
    const std::string name = pathText(file.path);
    return [name](const std::string& line) { printError(name + ": " + line); };
}

} // namespace brindlemark::cli
