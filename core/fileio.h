#pragma once

// Files on disk. Every write goes through a temporary file created exclusively beside its target and is put in
// place by a rename only when all of it was written and flushed, so a user's file is either as it was or wholly
// new. A symbolic link is followed and kept (its target is written), and the replaced file's owner and mode
// carry over. Several files that must change together are staged first and committed at once (FileTransaction).
//
// The parts: saving one file, several files committed together (with the journal that finishes or undoes a
// commit that was killed), the locks, reading, paths; under them the system's calls, one file per system
// (platformfiles.h, for core/ only).

#include "core/filelock.h"
#include "core/filepaths.h"
#include "core/fileread.h"
#include "core/filesave.h"
#include "core/filetransaction.h"
