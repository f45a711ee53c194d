#include "app/windowcontroller.h"

#include "core/objectid.h"
#include "document/mainform.h"

namespace brindlemark {

namespace {

constexpr ControlId kToggles[] = {ControlId::Overwrite, ControlId::Glue, ControlId::Keep};

} // namespace

WindowController::WindowController(AppState& state, WindowView& view) : state_(state), view_(view) {}

void WindowController::clicked(ControlId id) {
    switch (id) {
    case ControlId::ChooseMain:
        chooseMainBundle();
        break;
    case ControlId::AddSideFile:
        addSideFile();
        break;
    case ControlId::Clear:
        view_.setListRows(ControlId::SideFiles, {});
        break;
    case ControlId::Replace:
        replaceIdentifiers();
        break;
    case ControlId::Merge:
        mergeObjectFiles();
        break;
    case ControlId::SaveIdList:
        saveIdListAs();
        break;
    case ControlId::ChooseReplaceList:
        chooseReplaceList();
        break;
    case ControlId::ChooseAdded:
        chooseAddedBundle();
        break;
    case ControlId::Overwrite:
    case ControlId::Glue:
    case ControlId::Keep:
        toggleClicked(id);
        break;
    default:
        break;
    }
}

std::optional<std::filesystem::path> WindowController::askFile(Chooser chooser, bool save, Text filter,
                                                               const std::filesystem::path& initialName) {
    const ChooserQuestion question{chooser, save, text(state_.language, filter), initialName,
                                   state_.chooserFolder(chooser)};
    std::string filterEntry = state_.chooserFilter(chooser);
    const std::optional<std::filesystem::path> path = view_.askFile(question, filterEntry);
    if (path)
        state_.chooserConfirmed(chooser, *path, filterEntry);
    return path;
}

void WindowController::chooseMainBundle() {
    if (const auto path = askFile(Chooser::MainFile, false, Text::MainChooserFilter, kBundleChooserName))
        openMainFile(chosenMainFile(*path));
}

void WindowController::openMainFile(const std::filesystem::path& path) {
    // "maps/../MyMap.w3x/" is shown and opened as "MyMap.w3x".
    std::filesystem::path file = path.lexically_normal();
    if (!file.has_filename() && file.has_relative_path())
        file = file.parent_path();
    view_.setFieldText(ControlId::MainPath, file);
    updateButtons();
    state_.chooseMainBundle(file, *this);
}

void WindowController::chooseReplaceList() {
    if (const auto path = askFile(Chooser::ReplaceList, false, Text::TextFilter, state_.proposedIdListName())) {
        view_.setFieldText(ControlId::ReplaceListPath, *path);
        updateButtons();
    }
}

void WindowController::chooseAddedBundle() {
    if (const auto path = askFile(Chooser::AddedFile, false, Text::BundleChooserFilter, kBundleChooserName)) {
        view_.setFieldText(ControlId::AddedPath, *path);
        updateButtons();
    }
}

void WindowController::addSideFile() {
    const auto path = askFile(Chooser::SideFile, false, Text::TriggerFilter, state_.proposedSideFileName());
    if (!path)
        return;
    // The newest row goes first, so the Replace command visits the file added last first.
    std::vector<std::filesystem::path> rows = view_.listRows(ControlId::SideFiles);
    rows.insert(rows.begin(), *path);
    view_.setListRows(ControlId::SideFiles, rows);
}

void WindowController::saveIdListAs() {
    if (const auto path = askFile(Chooser::IdList, true, Text::TextFilter, state_.proposedIdListName()))
        state_.saveIdListAs(*path, *this);
}

void WindowController::replaceIdentifiers() {
    ReplaceRequest request;
    request.replaceList = view_.fieldText(ControlId::ReplaceListPath);
    request.sideFiles = view_.listRows(ControlId::SideFiles);
    request.keepBackups = view_.isChecked(ControlId::ReplaceBackups);

    const ReplaceReport report = state_.replace(request, *this);
    if (!report.listOpened)
        return; // the rows of the previous run stay
    std::vector<std::array<std::string, 2>> rows;
    rows.reserve(report.renames.size());
    for (const RenameEntry& entry : report.renames)
        rows.push_back({displayText(entry.fromId), displayText(entry.toId)});
    view_.setReportRows(ControlId::Renames, rows);
}

void WindowController::mergeObjectFiles() {
    MergeRequest request;
    request.enabled = view_.isChecked(ControlId::MergeBackups);
    request.takeBackup = true;
    request.addedFile = view_.fieldText(ControlId::AddedPath);
    request.policy = checkedPolicy();
    state_.merge(request, *this);
}

void WindowController::updateButtons() {
    const ButtonStates states = brindlemark::updateButtons(view_.fieldText(ControlId::MainPath).native().size(),
                                                           view_.fieldText(ControlId::ReplaceListPath).native().size(),
                                                           view_.fieldText(ControlId::AddedPath).native().size());
    view_.setEnabled(ControlId::SaveIdList, states.saveIdList);
    view_.setEnabled(ControlId::Merge, states.merge);
    view_.setEnabled(ControlId::Replace, states.replace);
}

void WindowController::toggleClicked(ControlId toggle) {
    // The click has already flipped the toggle's own mark.
    if (!view_.isChecked(toggle)) {
        view_.setChecked(toggle, true); // the checked toggle stays checked
        return;
    }
    for (ControlId other : kToggles)
        if (other != toggle)
            view_.setChecked(other, false);
}

MergePolicy WindowController::checkedPolicy() const {
    if (view_.isChecked(ControlId::Overwrite))
        return MergePolicy::Overwrite;
    if (view_.isChecked(ControlId::Keep))
        return MergePolicy::Keep;
    return MergePolicy::Glue;
}

} // namespace brindlemark
