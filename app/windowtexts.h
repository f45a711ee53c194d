#pragma once

// Every text the two windows show, in each of their languages: captions, menu items, the About box, the
// choosers' filters and the window's own messages. The Qt and the Win32 window both take their texts from
// here, so that they cannot say different things.

#include "core/objectbundle.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace brindlemark {

// The choosers' filters: entries "label|patterns" separated by "|", patterns separated by ";", ending in
// "||". Their labels read the same in every language: a chooser remembers its selected entry by label, and
// keeps it across a change of language.
inline constexpr std::string_view kBundleFilter = "Warcraft 3 Object File, (*.W3O)|*.w3o||";
// What the bundle choosers offer: the bundle filter, and the object files of one kind as a second entry.
inline constexpr std::string_view kBundleChooserFilter =
    "Warcraft 3 Object File, (*.W3O)|*.w3o|"
    "Warcraft 3 Object File of one kind, (*.W3U,*.W3T,*.W3B,*.W3D,*.W3A,*.W3H,*.W3Q)|"
    "*.w3u;*.w3t;*.w3b;*.w3d;*.w3a;*.w3h;*.w3q||";
// What the main-file chooser offers: the same, and maps as a third entry: archives, and a map folder through
// the war3map.w3i it holds.
inline constexpr std::string_view kMainChooserFilter =
    "Warcraft 3 Object File, (*.W3O)|*.w3o|"
    "Warcraft 3 Object File of one kind, (*.W3U,*.W3T,*.W3B,*.W3D,*.W3A,*.W3H,*.W3Q)|"
    "*.w3u;*.w3t;*.w3b;*.w3d;*.w3a;*.w3h;*.w3q|"
    "Warcraft 3 Map, (*.W3X,*.W3M,WAR3MAP.W3I)|*.w3x;*.w3m;war3map.w3i||";
inline constexpr std::string_view kTriggerFilter =
    "Warcraft Trigger Files, (*.WCT,*.WTG)|*.WCT;*.WTG|All Files, (*.*)|*.*||";
inline constexpr std::string_view kTextFilter = "TXT File, (*.TXT)|*.txt|All Files, (*.*)|*.*||";
// The name the bundle choosers propose.
inline constexpr std::string_view kBundleChooserName = "*.w3o";

enum class Language { Russian, English };

inline constexpr Language kDefaultLanguage = Language::Russian;
inline constexpr Language kLanguages[] = {Language::Russian, Language::English};

// "ru" and "en", as `brindlemark --lang` and the settings name them.
std::string_view languageCode(Language language);
// The language of a code; nothing for an unknown one.
std::optional<Language> languageFromCode(std::string_view code);
// The language's own name, as the language menu offers it: "Русский", "English".
std::string_view languageName(Language language);

enum class Text {
    None, // no caption
    Browse,
    WindowTitle,
    AboutItem,
    // The main window's captions.
    MainFileGroup,
    ReplaceGroup,
    ReplaceListGroup,
    SideFilesGroup,
    KeepBackups,
    Clear,
    Replace,
    Add,
    SaveIdList,
    MergeGroup,
    PolicyGroup,
    Overwrite,
    Glue,
    Keep,
    AddedFileGroup,
    Merge,
    // The About box; AboutVersion holds %1 for the program's version.
    AboutTitle,
    AboutVersion,
    AboutCopyright,
    AboutGroupName,
    AboutThanks,
    AboutCommunity,
    AboutTesters,
    // The choosers' filters, in the form parseFilter() reads.
    MainChooserFilter,
    BundleChooserFilter,
    TriggerFilter,
    TextFilter,
    // The window's messages; %1, %2... are filled by fill().
    ReplaceDone,       // %1 renames, %2 files changed
    ReplaceCollisions, // %1 renames onto an identifier already taken
    ReplaceScriptKept, // %1 the map script's name
    MergeDone,
    MergeKindCounts,   // %1 kind, %2 added, %3 overwritten, %4 glued, %5 kept
    IdListWriteFailed, // %1 path, %2 reason
    // The kinds of objects, in the order of ObjectKind.
    KindUnits,
    KindItems,
    KindDestructables,
    KindDoodads,
    KindAbilities,
    KindBuffs,
    KindUpgrades,
    Count
};

// The text in that language (UTF-8).
std::string_view text(Language language, Text id);
// The name of a kind of objects in the window's messages.
std::string_view kindText(Language language, ObjectKind kind);
// `pattern` with %1 to %9 replaced by `values` in one pass: a value's own "%1" stays as it is.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values);

} // namespace brindlemark
