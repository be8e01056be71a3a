#pragma once
// What lets the next run put right what a killed one left in a folder.
//
// Every process that writes into a folder first holds a lock file there,
// ".zrvimage-OWNER.lock", for as long as it has files of its own being written in it;
// OWNER is the process id and a random number, so a reused process id is never taken
// for the same writer. Its temporaries are named ".NAME.OWNER-SERIAL.tmp". Before the
// first rename of a group of files that belong together, a journal,
// ".zrvimage-OWNER-SERIAL.journal", names each file's final name, temporary name and
// the identity of the new file, and is on the disk. Whoever writes into the folder
// next, or `zrvimage-batch tidy`, finds the owner's lock file free (its process is
// gone: the system dropped the lock), places from the journal every new file not yet
// placed, so that the group ends all new, and removes the owner's temporaries, journal
// and lock file. Temporaries of a dead owner without a journal had not been placed:
// removing them leaves every name as it was.
//
// A group across folders (a preview in a folder of its own) has a journal in each;
// the one in the first file's folder is the primary and is written last. A copy whose
// primary is not there was never acted on (nothing was renamed before the primary was
// on the disk), or its group was finished: either way its temporaries only go.

#include "engine/platform/Platform.h"

#include <memory>
#include <string>
#include <vector>

namespace engine {

// This process's name in temporaries, lock files and journals: "PIDxRANDOM".
const std::string& outputOwner();

// A hold on a folder for this process's outputs: the lock file exists and is locked
// while any hold on the folder lives. The first hold a process takes on a folder
// tidies it first (quietly). Throws EngineError(CannotCreateOutput) with the system's
// reason, naming forPath, when the lock file cannot be made.
class FolderHold {
public:
    FolderHold(const std::string& folder, const std::string& forPath);
    ~FolderHold();
    FolderHold(const FolderHold&) = delete;
    FolderHold& operator=(const FolderHold&) = delete;

private:
    std::string folder_;
};

// One file of a group as the journal names it.
struct JournalEntry {
    std::string finalPath;
    std::string temporaryPath;
    platform::FileIdentity newFile;  // the new file, wherever it is
};

// Writes the group's journals (each folder's copy, the primary last), each on the disk
// with its folder before this returns; returns their paths, primary last. Throws
// EngineError(WriteFailed) naming errorPath, with the reason, and leaves none behind.
std::vector<std::string> writeJournals(const std::vector<JournalEntry>& entries, const std::string& errorPath);
// Removes the journals, primary last; failures are ignored (the group is whole either
// way: a journal found later only places what is already placed).
void removeJournals(const std::vector<std::string>& journals);

// What tidying a folder did, one item a group (or an owner's loose temporaries).
struct TidyStep {
    enum Kind {
        Finished,   // a group placed from its journal: all new
        Removed,    // temporaries of a dead process removed: their names kept the old files
        Running,    // a running process's files, left alone
        Failed,     // could not be put right now; left as it was for a later try
    };
    Kind kind;
    std::vector<std::string> names;  // the final names (Finished, Failed), or the files
    std::string reason;              // Failed: the system's reason
};

// Puts right what dead processes left in folder (see above). Throws
// EngineError(CannotOpenInput) when the folder cannot be read.
std::vector<TidyStep> tidyFolder(const std::string& folder);

// The line `tidy` prints for a step.
std::string tidyLine(const TidyStep& step);

}  // namespace engine
