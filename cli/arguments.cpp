#include "cli/arguments.h"

#include <algorithm>

namespace brindlemark::cli {

std::vector<Argument> programArguments(int argc, char** argv) {
    std::vector<Argument> args;
    for (int i = 1; i < argc; ++i)
        args.push_back({argv[i], std::filesystem::path(argv[i])});
    return args;
}

#ifdef _WIN32
std::vector<Argument> programArguments(int argc, wchar_t** argv) {
    std::vector<Argument> args;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        const std::u8string utf8 = path.u8string();
        args.push_back({std::string(utf8.begin(), utf8.end()), std::move(path)});
    }
    return args;
}
#endif

std::filesystem::path pathFromText(std::string_view text) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
#else
    return std::filesystem::path(std::string(text));
#endif
}

bool ParsedArguments::has(std::string_view longName) const {
    return value(longName) != nullptr;
}

const Argument* ParsedArguments::value(std::string_view longName) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it)
        if (it->first == longName)
            return &it->second;
    return nullptr;
}

std::vector<std::filesystem::path> ParsedArguments::paths(std::string_view longName) const {
    std::vector<std::filesystem::path> out;
    for (const auto& [name, value] : options)
        if (name == longName)
            out.push_back(value.path);
    return out;
}

bool parseArguments(std::span<const Argument> args, std::span<const OptionSpec> optionSpecs, ParsedArguments& out,
                    std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Argument& arg = args[i];
        const std::string_view text = arg.text;
        if (optionsEnded || text.size() < 2 || text[0] != '-') {
            out.positional.push_back(arg);
            continue;
        }
        if (text == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = text;
        std::string_view inlineValue;
        bool hasInlineValue = false;
        if (text.starts_with("--")) {
            if (const auto eq = text.find('='); eq != std::string_view::npos) {
                name = text.substr(0, eq);
                inlineValue = text.substr(eq + 1);
                hasInlineValue = true;
            }
        }
        const auto option = std::find_if(optionSpecs.begin(), optionSpecs.end(), [&](const OptionSpec& s) {
            return s.longName == name || (!s.shortName.empty() && s.shortName == name);
        });
        if (option == optionSpecs.end()) {
            error = "unknown option '" + std::string(name) + "'";
            return false;
        }
        const std::string key(option->longName);
        if (!option->takesValue) {
            if (hasInlineValue) {
                error = "option '" + key + "' takes no value";
                return false;
            }
            out.options.push_back({key, Argument{}});
            continue;
        }
        if (hasInlineValue) {
            out.options.push_back({key, Argument{std::string(inlineValue), pathFromText(inlineValue)}});
            continue;
        }
        if (i + 1 == args.size()) {
            error = "option '" + std::string(name) + "' needs a value";
            return false;
        }
        out.options.push_back({key, args[++i]});
    }
    for (const OptionSpec& option : optionSpecs) {
        if (option.required && !out.has(option.longName)) {
            error = "missing " + std::string(option.shortName.empty() ? option.longName : option.shortName) + " " +
                    std::string(option.valueName);
            return false;
        }
    }
    return true;
}

} // namespace brindlemark::cli
