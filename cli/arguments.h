#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindlemark::cli {

// One command-line argument, both as text (for options and messages) and as a path. On POSIX systems both hold
// the argument's bytes unchanged; on Windows the path comes from the wide argument and the text is its UTF-8 form.
struct Argument {
    std::string text;
    std::filesystem::path path;
};

// The arguments after the program name. The only place that knows how the platform hands them over.
std::vector<Argument> programArguments(int argc, char** argv);
#ifdef _WIN32
std::vector<Argument> programArguments(int argc, wchar_t** argv);
#endif
// A path from argument text, read as the platform's argument text: bytes on POSIX, UTF-8 on Windows.
std::filesystem::path pathFromText(std::string_view text);

// What an option's value or a positional argument names. The shell completions offer the files of that kind, or
// for `Words` the words of the value name ("overwrite|glue|keep").
enum class ValueKind {
    AnyFile,
    ObjectFile,      // a bundle (.w3o) or an object file of one kind (.w3u .w3t ...)
    ObjectFileOrMap, // the same, or a map (.w3x .w3m)
    TextFile,        // a replace list or an identifier list (.txt)
    StringTable,     // a map's string table (.wts)
    JsonFile,        // object data as JSON (.json)
    Words,
};

// An option a command accepts: a long name ("--json") and an optional short one ("-o"). The command's help, the
// manual page and the shell completions are all made from these.
struct OptionSpec {
    std::string_view longName{};
    std::string_view shortName{}; // empty when there is none
    bool takesValue = false;
    std::string_view valueName{}; // shown in messages: "missing -o OUT"
    bool required = false;
    std::string_view help{}; // one paragraph; the help text wraps it
    ValueKind value = ValueKind::AnyFile;
};

// A command's arguments after option parsing. Options are stored under their long names.
struct ParsedArguments {
    std::vector<Argument> positional;
    std::vector<std::pair<std::string, Argument>> options;

    bool has(std::string_view longName) const;
    // The value of the last occurrence of the option, or null.
    const Argument* value(std::string_view longName) const;
    // The values of every occurrence of the option, as paths, in the order given.
    std::vector<std::filesystem::path> paths(std::string_view longName) const;
};

// Splits `args` into options and positional arguments. "--" ends the options; "-" alone is positional;
// "--name=value" and "--name value" both work. False with a message for an unknown option or a missing value.
// A required option that is absent is an error too. "--help" is not handled here.
bool parseArguments(std::span<const Argument> args, std::span<const OptionSpec> optionSpecs, ParsedArguments& out,
                    std::string& error);

} // namespace brindlemark::cli
