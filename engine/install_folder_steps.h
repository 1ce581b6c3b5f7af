#pragma once
// The install-folder protocol's own renames and deletions (engine/install_folder.h), for the files
// of the protocol alone: nothing else renames or deletes in an install folder.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/install_folder.h"

namespace tqm::detail {

// What deleteCopyAt answers when the name no longer holds the copy it was given: nothing was done.
constexpr int kNotTheCopy = -2;

// renameat for one of the steps, never onto a taken name (RENAME_NOREPLACE: EEXIST); false with
// errno set.
bool renameStep(RenameStep step, int fromDir, const std::string& from, int toDir, const std::string& to);

// Removes the entry name of an open folder and all below it, no link followed, a few folders open at
// a time; it works only inside the folder it opened at that name, and climbs back only through the
// folders it came down. 0 when nothing of it is left, else the first system error number met.
int removeAllAt(int parentFd, const std::string& name);

// Removes a gone writer's staging folder `name` (while it is the folder `held`, when given), after
// its tag's note when the copy that note names is still inside (voidUnmovedNote); left whole while
// that note stays.
void removeStagingAt(int dirFd, const std::string& name, const struct stat* held = nullptr);

// Deletes the copy at the aside (or gone) name `name` of dirFd: only while that name holds `copy`
// (when given), after every install note among `names` of a tag other than `tag` that names it, and
// renamed first to its gone name, which no sweep puts back. 0 when it is gone; kNotTheCopy when
// another entry stands there (nothing done); else a system error number, the copy left whole at its
// aside name when nothing of it was deleted (EPERM: such a note stays), else at its gone name.
int deleteCopyAt(int dirFd, const std::string& name, const std::string& tag, const std::vector<std::string>& names,
                 const struct stat* copy = nullptr);

// Before a gone writer's staging folder is deleted: removes the install note of tag when the copy it
// names is still in that staging folder, never moved in. False when such a note stays.
bool voidUnmovedNote(int dirFd, const std::string& tag);

// Removes each install note among names, of a tag other than `tag`, that names the copy `copy` of
// the open folder dirFd (its device and inode); false when one of them stays.
bool voidNotesNaming(int dirFd, const std::string& copy, const std::string& tag, const std::vector<std::string>& names);

}  // namespace tqm::detail
