#pragma once

// The main window's controls, once for both windows: the Qt window creates its controls from this table, and
// a test holds the Win32 dialog template (app/win32/brindlemark.rc) to it.

#include "app/windowtexts.h"

namespace brindlemark {

enum class ControlKind { Button, Field, List, Group, CheckBox, Toggle, Report };

enum ControlFlag : unsigned {
    Hidden = 1,        // never shown
    Centred = 2,       // a group box whose caption stands in the middle
    OrdinaryFrame = 4, // a group box with the ordinary frame; the others are flat
    Checked = 8,       // a check box or toggle checked at start
    // The Win32 template starts this group box 4 units higher (and 4 taller), where the native frame would
    // otherwise clip the caption of the group box inside it.
    RaisedOnWin32 = 16,
};

inline constexpr int kNoControlId = -1; // the group boxes have no id of their own

// The controls with an id, by the numbers the table (and the Win32 dialog template) gives them.
enum class ControlId : int {
    ChooseMain = 1, // also the window's default command, which Enter gives
    Cancel = 2,     // hidden; Esc and the close box reach it
    AddSideFile = 3,
    Clear = 4,
    Replace = 5,
    Merge = 6,
    SaveIdList = 7,
    MainPath = 1000,
    ReplaceListPath = 1001,
    SideFiles = 1002,
    ReplaceBackups = 1003,
    ChooseReplaceList = 1004,
    Renames = 1005,
    AddedPath = 1006,
    ChooseAdded = 1007,
    MergeBackups = 1008,
    Overwrite = 1009,
    Glue = 1010,
    Keep = 1011,
};
inline constexpr int kWin32Raise = 4;

// One control: id, kind, caption and its place in dialog units (x, y, width, height). The order is the
// creation order and so the tab order.
struct ControlEntry {
    int id;
    ControlKind kind;
    Text caption;
    int x, y, width, height;
    unsigned flags;
};

// The window's client area in dialog units.
inline constexpr int kWindowWidth = 322;
inline constexpr int kWindowHeight = 319;

inline constexpr ControlEntry kMainWindowControls[] = {
    {1, ControlKind::Button, Text::Browse, 295, 11, 20, 16, 0},
    {1000, ControlKind::Field, Text::None, 6, 12, 286, 15, 0},
    {1001, ControlKind::Field, Text::None, 11, 58, 275, 15, 0},
    {1002, ControlKind::List, Text::None, 12, 92, 235, 89, 0},
    {kNoControlId, ControlKind::Group, Text::ReplaceGroup, 2, 42, 317, 169, Centred | RaisedOnWin32},
    {1003, ControlKind::CheckBox, Text::KeepBackups, 7, 189, 91, 18, Checked},
    {kNoControlId, ControlKind::Group, Text::MainFileGroup, 2, 1, 317, 31, Centred},
    {kNoControlId, ControlKind::Group, Text::ReplaceListGroup, 7, 48, 307, 31, 0},
    {kNoControlId, ControlKind::Group, Text::SideFilesGroup, 7, 82, 307, 104, 0},
    {4, ControlKind::Button, Text::Clear, 251, 165, 57, 16, 0},
    {5, ControlKind::Button, Text::Replace, 246, 191, 68, 16, 0},
    {3, ControlKind::Button, Text::Add, 251, 92, 58, 16, 0},
    {2, ControlKind::Button, Text::Browse, 302, 227, 20, 16, Hidden},
    {1004, ControlKind::Button, Text::Browse, 290, 58, 20, 16, 0},
    {7, ControlKind::Button, Text::SaveIdList, 101, 191, 140, 16, 0},
    {1005, ControlKind::Report, Text::None, 242, 7, 80, 21, Hidden},
    {kNoControlId, ControlKind::Group, Text::MergeGroup, 2, 221, 317, 95, Centred},
    {kNoControlId, ControlKind::Group, Text::PolicyGroup, 101, 262, 139, 49, OrdinaryFrame},
    {1009, ControlKind::Toggle, Text::Overwrite, 107, 274, 127, 10, 0},
    {1010, ControlKind::Toggle, Text::Glue, 107, 285, 127, 10, Checked},
    {1011, ControlKind::Toggle, Text::Keep, 107, 296, 127, 10, 0},
    {1006, ControlKind::Field, Text::None, 12, 239, 275, 15, 0},
    {kNoControlId, ControlKind::Group, Text::AddedFileGroup, 7, 228, 307, 31, 0},
    {1007, ControlKind::Button, Text::Browse, 289, 238, 20, 16, 0},
    {1008, ControlKind::CheckBox, Text::KeepBackups, 8, 264, 91, 18, Checked},
    {6, ControlKind::Button, Text::Merge, 245, 295, 68, 16, 0},
};

} // namespace brindlemark
