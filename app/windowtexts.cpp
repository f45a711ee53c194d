#include "app/windowtexts.h"

#include <array>
#include <cstddef>

namespace brindlemark {

namespace {

// One row per text: the Russian and the English wording side by side, in the order of Text.
struct TextRow {
    Text id;
    std::string_view russian;
    std::string_view english;
};

constexpr TextRow kTexts[] = {
    {Text::None, "", ""},
    {Text::Browse, "...", "..."},
    {Text::WindowTitle, "Brindlemark", "Brindlemark"},
    {Text::AboutItem, "О программе Brindlemark...", "About Brindlemark..."},
    {Text::MainFileGroup, "Основной файл обьектов", "Main object file"},
    {Text::ReplaceGroup, "Замена идентификаторов", "Replace identifiers"},
    {Text::ReplaceListGroup, "Файл списка замены", "Replace list file"},
    {Text::SideFilesGroup, "Список допольнительных файлов", "Additional files to update"},
    {Text::KeepBackups, "Сохранять резервные копии", "Keep backup copies"},
    {Text::Clear, "Очистить", "Clear"},
    {Text::Replace, "Заменить", "Replace"},
    {Text::Add, "Добавить", "Add"},
    {Text::SaveIdList, "Сохранить список идентификаторов", "Save identifier list"},
    {Text::MergeGroup, "Обьединение файлов обьектов", "Merge object data"},
    {Text::PolicyGroup, "Совпадающие идентификаторы", "Identifiers in both files"},
    {Text::Overwrite, "Перезаписывать обьекты", "Overwrite objects"},
    {Text::Glue, "Склеивать обьекты", "Combine objects"},
    {Text::Keep, "Не изменять", "Keep existing"},
    {Text::AddedFileGroup, "Добавленный файл обьектов", "Object file to add"},
    {Text::Merge, "Обьединить", "Merge"},
    {Text::AboutTitle, "О программе Brindlemark", "About Brindlemark"},
    {Text::AboutVersion, "Версия %1", "Version %1"},
    {Text::AboutCopyright, "© 2026 Brindlemark developers", "© 2026 Brindlemark developers"},
    {Text::AboutGroupName, "The Brindlemark map tools group", "The Brindlemark map tools group"},
    {Text::AboutThanks, "Thanks to", "Thanks to"},
    {Text::AboutCommunity, "The map making community", "The map making community"},
    {Text::AboutTesters, "Everyone who tested it", "Everyone who tested it"},
    {Text::MainChooserFilter, kMainChooserFilter, kMainChooserFilter},
    {Text::BundleChooserFilter, kBundleChooserFilter, kBundleChooserFilter},
    {Text::TriggerFilter, kTriggerFilter, kTriggerFilter},
    {Text::TextFilter, kTextFilter, kTextFilter},
    {Text::ReplaceDone, "Процесс изменения завершен! Переименовано идентификаторов: %1, изменено файлов: %2.",
     "Replacing finished! Identifiers renamed: %1, files changed: %2."},
    {Text::ReplaceCollisions, " Переименований на уже занятый идентификатор: %1.",
     " Renamed onto an identifier already in use: %1."},
    {Text::ReplaceScriptKept, "\nСценарий карты %1 оставлен без изменений.", "\nThe map script %1 was left unchanged."},
    {Text::MergeDone, "Процесс обьединения завершен!", "Merging finished!"},
    {Text::MergeKindCounts, " %1 — добавлено: %2, перезаписано: %3, склеено: %4, оставлено: %5.",
     " %1 — added: %2, overwritten: %3, combined: %4, kept: %5."},
    {Text::IdListWriteFailed, "Failed to write identifier list %1 (%2)", "Failed to write identifier list %1 (%2)"},
    {Text::KindUnits, "Юниты", "Units"},
    {Text::KindItems, "Предметы", "Items"},
    {Text::KindDestructables, "Разрушаемые объекты", "Destructibles"},
    {Text::KindDoodads, "Декорации", "Doodads"},
    {Text::KindAbilities, "Способности", "Abilities"},
    {Text::KindBuffs, "Баффы", "Buffs"},
    {Text::KindUpgrades, "Улучшения", "Upgrades"},
};

constexpr bool rowsInOrder() {
    for (std::size_t i = 0; i < std::size(kTexts); ++i)
        if (static_cast<std::size_t>(kTexts[i].id) != i)
            return false;
    return std::size(kTexts) == static_cast<std::size_t>(Text::Count);
}
static_assert(rowsInOrder(), "one row per Text, in the order of Text");

} // namespace

std::string_view languageCode(Language language) {
    return language == Language::English ? "en" : "ru";
}

std::optional<Language> languageFromCode(std::string_view code) {
    for (Language language : kLanguages)
        if (languageCode(language) == code)
            return language;
    return std::nullopt;
}

std::string_view languageName(Language language) {
    return language == Language::English ? "English" : "Русский";
}

std::string_view text(Language language, Text id) {
    const std::size_t index = static_cast<std::size_t>(id);
    if (index >= std::size(kTexts))
        return {};
    return language == Language::English ? kTexts[index].english : kTexts[index].russian;
}

std::string_view kindText(Language language, ObjectKind kind) {
    return text(language, static_cast<Text>(static_cast<int>(Text::KindUnits) + static_cast<int>(kind)));
}

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const std::size_t n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < values.size()) {
                out += values.begin()[n];
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

} // namespace brindlemark
