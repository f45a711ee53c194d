#include "cli/helptext.h"

#include <algorithm>

namespace brindlemark::cli {

namespace {

constexpr std::size_t kTextWidth = 100;    // the help's lines stay within this many columns
constexpr std::size_t kCommandColumn = 26; // where the program help's command summaries start
constexpr std::size_t kOptionColumn = 24;  // where an option's help starts, at most

constexpr std::string_view kDescription =
    "Reads and rewrites Warcraft III object bundles (.w3o files: the modified and custom units,\n"
    "items, destructables, doodads, abilities, buffs and upgrades of a map).\n";
constexpr std::string_view kExitStatus =
    "Exit status: 0 done, 1 failed (a file that cannot be read or written), 2 wrong command line;\n"
    "diff and merge3 differ (see their help).\n";

// "-l, --list LIST", "--no-backup".
std::string optionLabel(const OptionSpec& option) {
    std::string label;
    if (!option.shortName.empty())
        label.append(option.shortName).append(", ");
    label.append(option.longName);
    if (option.takesValue)
        label.append(" ").append(option.valueName);
    return label;
}

std::string optionText(const OptionSpec& option) {
    std::string text(option.help);
    if (option.required)
        text += " (required)";
    return text;
}

// `text` broken at spaces into lines of at most `width` columns (a longer word stands alone).
std::vector<std::string> wrap(std::string_view text, std::size_t width) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string_view word = text.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty())
            line += ' ';
        line += word;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string optionsHelp(std::span<const OptionSpec> options) {
    std::size_t column = 0;
    for (const OptionSpec& option : options)
        column = std::max(column, optionLabel(option).size() + 4);
    column = std::min(column, kOptionColumn);
    std::string out;
    for (const OptionSpec& option : options) {
        std::string line = "  " + optionLabel(option);
        if (line.size() + 2 > column) {
            out += line + "\n";
            line.clear();
        }
        line.resize(column, ' ');
        const std::vector<std::string> lines = wrap(optionText(option), kTextWidth - column);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            out += (i == 0 ? line : std::string(column, ' ')) + lines[i] + "\n";
        }
        if (lines.empty())
            out += "\n";
    }
    return out;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// "Example: ..." or "Examples: ..." with the further lines under the first.
std::string examplesHelp(std::string_view examples) {
    const std::vector<std::string_view> lines = splitLines(examples);
    const auto commandLines =
        std::count_if(lines.begin(), lines.end(), [](std::string_view line) { return line.starts_with(kProgramName); });
    const std::string lead = commandLines > 1 ? "Examples: " : "Example: ";
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out.append(i == 0 ? lead : std::string(lead.size(), ' ')).append(lines[i]).append("\n");
    return out;
}

} // namespace

std::string commandUsage(const Command& command) {
    return std::string("usage: ") + kProgramName + " " + std::string(command.synopsis);
}

std::string programHelp(std::span<const Command* const> commands) {
    std::string text = std::string("usage: ") + kProgramName + " COMMAND [ARGUMENTS]\n\n" + std::string(kDescription) +
                       "\nCommands:\n";
    // Summaries stand in a column; a synopsis too long for it puts its summary on the next line.
    for (const Command* c : commands) {
        text += "  " + std::string(c->synopsis);
        if (c->synopsis.size() + 2 <= kCommandColumn)
            text += std::string(kCommandColumn - c->synopsis.size(), ' ');
        else
            text += "\n" + std::string(kCommandColumn + 2, ' ');
        text += std::string(c->summary) + "\n";
    }
    text += std::string("\n") + kProgramName + " COMMAND --help shows a command's help.\n" + std::string(kExitStatus);
    return text;
}

std::string commandHelp(const Command& command) {
    std::string text = commandUsage(command) + "\n\n" + std::string(command.summary) + "\n";
    if (!command.details.empty()) {
        text += '\n';
        text += command.details;
        if (!text.ends_with('\n'))
            text += '\n';
    }
    if (!command.options.empty())
        text += "\nOptions:\n" + optionsHelp(command.options);
    if (!command.examples.empty())
        text += "\n" + examplesHelp(command.examples);
    return text;
}

// ---- The manual page

namespace {

// Text for roff: backslashes and hyphens escaped, and a line that would start with a control character
// guarded.
std::string roff(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\''))
            out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

// Paragraphs separated by blank lines become roff paragraphs.
std::string roffParagraphs(std::string_view text) {
    std::string out;
    bool inParagraph = false;
    for (std::string_view line : splitLines(text)) {
        if (line.empty()) {
            inParagraph = false;
            continue;
        }
        if (!inParagraph)
            out += ".PP\n";
        inParagraph = true;
        out += roff(line) + "\n";
    }
    return out;
}

} // namespace

std::string manPage(std::span<const Command* const> commands, std::string_view version) {
    std::string out =
        std::string(".\\\" Generated by ") + kProgramName + " --generate man; edit the option tables instead.\n";
    out += ".TH BRINDLEMARK\\-CLI 1 \"\" \"brindlemark " + roff(version) + "\" \"User Commands\"\n";
    out += ".SH NAME\n" + roff(kProgramName) +
           " \\- rename object identifiers and merge object data of Warcraft III maps\n";
    out += ".nh\n.ad l\n.SH SYNOPSIS\n";
    for (const Command* c : commands)
        out += ".B " + roff(kProgramName) + "\n" + roff(c->synopsis) + "\n.br\n";
    out += ".B " + roff(kProgramName) + "\n\\-\\-help | \\-\\-version | COMMAND \\-\\-help | help COMMAND\n";
    out += ".SH DESCRIPTION\n" + roffParagraphs(kDescription);
    // The commands that take maps, from what their arguments name.
    std::string mapCommands;
    for (const Command* c : commands) {
        bool map =
            std::find(c->positionals.begin(), c->positionals.end(), ValueKind::ObjectFileOrMap) != c->positionals.end();
        for (const OptionSpec& option : c->options)
            map = map || option.value == ValueKind::ObjectFileOrMap;
        if (map)
            mapCommands += (mapCommands.empty() ? "" : ", ") + std::string(c->name);
    }
    out += ".PP\nThe commands take a bundle (.w3o) or an object file of one kind (.w3u .w3t .w3b .w3d .w3a .w3h "
           ".w3q, written back in its own layout). These take a map too, a map archive (.w3x .w3m) or a map saved "
           "as a folder: " +
           roff(mapCommands) + ".\n";
    out += ".SH COMMANDS\n";
    for (const Command* c : commands) {
        out += ".SS \"" + roff(c->synopsis) + "\"\n" + roff(c->summary) + "\n";
        out += roffParagraphs(c->details);
        if (!c->options.empty())
            out += ".PP\nOptions:\n";
        for (const OptionSpec& option : c->options) {
            out += ".TP\n.B " + roff(optionLabel(option)) + "\n" + roff(optionText(option)) + "\n";
        }
        if (!c->examples.empty()) {
            out += ".PP\nExample:\n.PP\n.RS\n.nf\n";
            for (std::string_view line : splitLines(c->examples))
                out += roff(line) + "\n";
            out += ".fi\n.RE\n";
        }
    }
    out += ".SH \"EXIT STATUS\"\n" + roff(kExitStatus);
    return out;
}

// ---- Shell completions

namespace {

// A glob that matches the extensions in any letter case: "*.@([wW]3[oO]|[wW]3[xX])" (bash extglob).
std::string caseless(std::string_view extension) {
    std::string out;
    for (const char c : extension) {
        if (c >= 'a' && c <= 'z')
            out += std::string("[") + c + static_cast<char>(c - 0x20) + "]";
        else
            out += c;
    }
    return out;
}

std::vector<std::string_view> extensionsOf(ValueKind kind) {
    static constexpr std::string_view kObjectFiles[] = {"w3o", "w3u", "w3t", "w3b", "w3d", "w3a", "w3h", "w3q"};
    std::vector<std::string_view> out;
    switch (kind) {
    case ValueKind::ObjectFileOrMap:
        out = {"w3x", "w3m"};
        [[fallthrough]];
    case ValueKind::ObjectFile:
        out.insert(out.end(), std::begin(kObjectFiles), std::end(kObjectFiles));
        break;
    case ValueKind::TextFile:
        out = {"txt"};
        break;
    case ValueKind::StringTable:
        out = {"wts"};
        break;
    case ValueKind::JsonFile:
        out = {"json"};
        break;
    case ValueKind::AnyFile:
    case ValueKind::Words:
        break;
    }
    return out;
}

// The words of a value name such as "overwrite|glue|keep", separated by spaces.
std::string wordsOf(std::string_view valueName) {
    std::string out(valueName);
    std::replace(out.begin(), out.end(), '|', ' ');
    return out;
}

// The bash code that completes a value of `kind` (on one line).
std::string bashValue(ValueKind kind, std::string_view valueName) {
    if (kind == ValueKind::Words)
        return "COMPREPLY=($(compgen -W '" + wordsOf(valueName) + "' -- \"$cur\"))";
    std::string glob;
    for (std::string_view extension : extensionsOf(kind))
        glob += (glob.empty() ? "" : "|") + caseless(extension);
    return "_brindlemark_cli_files '" + (glob.empty() ? std::string() : "*.@(" + glob + ")") + "'";
}

std::string names(const OptionSpec& option) {
    return option.shortName.empty() ? std::string(option.longName)
                                    : std::string(option.shortName) + " " + std::string(option.longName);
}

// Text for a single-quoted zsh word inside an _arguments description: quotes closed and reopened, and the
// characters that _arguments reads ([ ] :) escaped.
std::string zshDescription(std::string_view text) {
    // The first clause, at most about 70 characters, cut at a word.
    std::size_t end = std::min(
        {text.find("; "), text.find(". "), text.find(" ("), text.find(" {"), text.find(", and "), text.size()});
    if (end > 70)
        end = text.rfind(' ', 70);
    while (end > 0 && (text[end - 1] == ':' || text[end - 1] == ','))
        --end;
    std::string out;
    for (const char c : text.substr(0, end)) {
        if (c == '\'')
            out += "'\\''";
        else if (c == '[' || c == ']' || c == ':' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out;
}

std::string zshValue(ValueKind kind, std::string_view valueName) {
    if (kind == ValueKind::Words)
        return "(" + wordsOf(valueName) + ")";
    std::string glob;
    for (std::string_view extension : extensionsOf(kind))
        glob += (glob.empty() ? "" : "|") + std::string(extension);
    return glob.empty() ? "_files" : "_files -g \"*.(#i)(" + glob + ")\"";
}

ValueKind positionalKind(const Command& command, std::size_t index) {
    return index < command.positionals.size() ? command.positionals[index] : ValueKind::AnyFile;
}

} // namespace

std::string bashCompletion(std::span<const Command* const> commands) {
    std::string commandNames;
    for (const Command* c : commands)
        commandNames += std::string(c->name) + " ";
    std::string out = std::string("# bash completion for ") + kProgramName + "; generated by " + kProgramName +
                      " --generate bash from its option tables.\n\n";
    out += R"(# Offers folders and the files that match the extended glob $1 (every file when it is empty).
_brindlemark_cli_files() {
    local IFS=$'\n' restore
    restore=$(shopt -p extglob)
    shopt -s extglob
    if [[ -z $1 ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    else
        COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!$1" -- "$cur"))
    fi
    eval "$restore"
    compopt -o filenames 2>/dev/null
    return 0
}

_brindlemark_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W ')" +
           commandNames + R"(help --help --version' -- "$cur"))
        return 0
    fi
    local options='' valued=' ' kinds=()
    case ${COMP_WORDS[1]} in
    help)
        ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W ')" +
           commandNames + R"(' -- "$cur"))
        return 0
        ;;
)";
    for (const Command* c : commands) {
        out += "    " + std::string(c->name) + ")\n";
        bool anyValued = false;
        for (const OptionSpec& option : c->options) {
            if (!option.takesValue)
                continue;
            if (!anyValued)
                out += "        case $prev in\n";
            anyValued = true;
            std::string pattern = names(option);
            std::replace(pattern.begin(), pattern.end(), ' ', '|');
            out += "        " + pattern + ") " + bashValue(option.value, option.valueName) + "; return 0 ;;\n";
        }
        if (anyValued)
            out += "        esac\n";
        std::string options = "--help";
        std::string valued;
        for (const OptionSpec& option : c->options) {
            options += " " + names(option);
            if (option.takesValue)
                valued += names(option) + " ";
        }
        out += "        options='" + options + "'\n";
        if (!valued.empty())
            out += "        valued=' " + valued + "'\n";
        out += "        kinds=(";
        for (std::size_t i = 0; i < c->maxPositional; ++i)
            out += std::string(i ? " " : "") + "\"" + bashValue(positionalKind(*c, i), {}) + "\"";
        out += ")\n        ;;\n";
    }
    out += R"(    *)
        return 0
        ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return 0
    fi
    # Which positional argument this is: the words before it that are neither options nor their values.
    local i position=0 ended=0
    for ((i = 2; i < COMP_CWORD; i++)); do
        local word=${COMP_WORDS[i]}
        if ((ended == 0)) && [[ $word == -- ]]; then
            ended=1
        elif ((ended == 0)) && [[ $word == -?* ]]; then
            [[ $word != *=* && $valued == *" $word "* ]] && ((i++))
        else
            ((position++))
        fi
    done
    ((position < ${#kinds[@]})) && eval "${kinds[position]}"
    return 0
}

complete -F _brindlemark_cli )" +
           std::string(kProgramName) + "\n";
    return out;
}

std::string zshCompletion(std::span<const Command* const> commands) {
    std::string out = std::string("#compdef ") + kProgramName + "\n# zsh completion for " + kProgramName +
                      "; generated by " + kProgramName + " --generate zsh from its option tables.\n\n";
    out += "_brindlemark_cli() {\n    local -a commands\n    commands=(\n";
    for (const Command* c : commands)
        out += "        '" + std::string(c->name) + ":" + zshDescription(c->summary) + "'\n";
    out += "        'help:Shows the help of a command'\n    )\n";
    out += R"(    if ((CURRENT == 2)); then
        _describe -t commands command commands
        _arguments '(- *)--help[show the help]' '(- *)--version[show the version]'
        return
    fi
    local command=$words[2]
    shift words
    ((CURRENT--))
    case $command in
    help)
        ((CURRENT == 2)) && _describe -t commands command commands
        ;;
)";
    for (const Command* c : commands) {
        out += "    " + std::string(c->name) + ")\n        _arguments -s \\\n";
        out += "            '(- *)--help[show the help of the command]' \\\n";
        for (const OptionSpec& option : c->options) {
            const std::string description = "[" + zshDescription(option.help) + "]";
            const std::string value = option.takesValue ? ":" + zshDescription(option.valueName) + ":" +
                                                              zshValue(option.value, option.valueName)
                                                        : std::string();
            if (option.shortName.empty())
                out += "            '*" + std::string(option.longName) + description + value + "' \\\n";
            else
                out += "            '*'{" + std::string(option.shortName) + "," + std::string(option.longName) + "}'" +
                       description + value + "' \\\n";
        }
        for (std::size_t i = 0; i < c->maxPositional; ++i)
            out += "            '" + std::to_string(i + 1) + ":file:" + zshValue(positionalKind(*c, i), {}) + "' \\\n";
        out += "            && return\n        ;;\n";
    }
    out += "    esac\n}\n\n_brindlemark_cli \"$@\"\n";
    return out;
}

} // namespace brindlemark::cli
