#include "engine/output/OutputJournal.h"

#include "engine/platform/EngineError.h"
#include "engine/platform/SystemReason.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

namespace engine {

namespace {

namespace fs = std::filesystem;

constexpr const char* kJournalMagic = "zrvimage journal 1";

std::string folderPart(const std::string& path)
{
    const fs::path parent = platform::pathOf(path).parent_path();
    return parent.empty() ? std::string(".") : platform::utf8Of(parent);
}

std::string namePart(const std::string& path)
{
    return platform::utf8Of(platform::pathOf(path).filename());
}

std::string joined(const std::string& folder, const std::string& name)
{
    return platform::utf8Of(platform::pathOf(folder) / platform::pathOf(name));
}

// The same folder however it was spelt ("out", "./out", "out/").
std::string folderKey(const std::string& folder)
{
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(platform::pathOf(folder), error);
    return error ? folder : platform::utf8Of(canonical);
}

std::string lockName(const std::string& owner)
{
    return ".zrvimage-" + owner + ".lock";
}

// Owner names: decimal digits, "x", eight hex digits.
bool isOwner(std::string_view text)
{
    const auto x = text.find('x');
    if (x == std::string_view::npos || x == 0 || x > 10 || text.size() != x + 9) return false;
    for (std::size_t i = 0; i < x; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    for (std::size_t i = x + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

bool allDigits(std::string_view text)
{
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// What a name in a folder is to the output path.
struct NameKind {
    enum Kind { Other, Lock, Journal, Temporary, OldTemporary } kind = Other;
    std::string owner;  // Lock, Journal, Temporary
    long pid = 0;       // OldTemporary: ".NAME.PID-SERIAL.tmp", from before owners had locks
};

NameKind kindOf(std::string_view name)
{
    NameKind k;
    constexpr std::string_view prefix = ".zrvimage-";
    if (name.starts_with(prefix) && endsWith(name, ".lock")) {
        const auto owner = name.substr(prefix.size(), name.size() - prefix.size() - 5);
        if (isOwner(owner)) return {NameKind::Lock, std::string(owner)};
    }
    if (name.starts_with(prefix) && endsWith(name, ".journal")) {
        const auto rest = name.substr(prefix.size(), name.size() - prefix.size() - 8);
        const auto dash = rest.rfind('-');
        if (dash != std::string_view::npos && isOwner(rest.substr(0, dash)) && allDigits(rest.substr(dash + 1))) {
            return {NameKind::Journal, std::string(rest.substr(0, dash))};
        }
    }
    if (name.size() > 1 && name[0] == '.' && endsWith(name, ".tmp")) {
        const auto body = name.substr(0, name.size() - 4);
        const auto dot = body.rfind('.');
        if (dot != std::string_view::npos && dot > 0) {
            const auto tag = body.substr(dot + 1);
            const auto dash = tag.rfind('-');
            if (dash != std::string_view::npos && allDigits(tag.substr(dash + 1))) {
                const auto who = tag.substr(0, dash);
                if (isOwner(who)) return {NameKind::Temporary, std::string(who)};
                if (allDigits(who) && who.size() <= 10) {
                    NameKind old;
                    old.kind = NameKind::OldTemporary;
                    old.pid = std::stol(std::string(who));
                    return old;
                }
            }
        }
    }
    return k;
}

// A path written into a journal line: '%', tab, CR and LF escaped.
std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
    return out;
}

std::string unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex = text.substr(i + 1, 2);
            out += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A path as a journal in folder keeps it: the bare name in its own folder (so that the
// folder may be moved or reached by another name), otherwise absolute.
std::string pathForJournal(const std::string& path, const std::string& journalFolder)
{
    if (folderKey(folderPart(path)) == folderKey(journalFolder)) return namePart(path);
    std::error_code error;
    const fs::path absolute = fs::absolute(platform::pathOf(path), error);
    return error ? path : platform::utf8Of(absolute);
}

std::string pathFromJournal(const std::string& text, const std::string& journalFolder)
{
    const fs::path p = platform::pathOf(text);
    return p.is_absolute() ? text : joined(journalFolder, text);
}

struct Journal {
    bool whole = false;       // ended with its "end" line: the group may have been placed
    std::string primary;      // a copy's primary journal; empty in the primary itself
    std::vector<JournalEntry> entries;
};

std::string journalText(const std::vector<JournalEntry>& entries, const std::string& folder, const std::string& primary)
{
    std::ostringstream out;
    out << kJournalMagic << '\n';
    if (!primary.empty()) out << "primary\t" << escaped(pathForJournal(primary, folder)) << '\n';
    for (const auto& e : entries) {
        out << "file\t" << escaped(pathForJournal(e.finalPath, folder)) << '\t'
            << escaped(pathForJournal(e.temporaryPath, folder)) << '\t' << e.newFile.device << '\t' << e.newFile.file
            << '\n';
    }
    out << "end\t" << entries.size() << '\n';
    return out.str();
}

std::optional<std::string> readSmallFile(const std::string& path)
{
    const int fd = platform::openFile(path, platform::Access::Read);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const std::int64_t n = platform::readSome(fd, buffer, sizeof buffer);
        if (n < 0) {
            platform::releaseFile(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > (std::size_t{1} << 20)) break;  // no journal is this long
    }
    platform::releaseFile(fd);
    return text;
}

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        const auto tab = line.find('\t', at);
        parts.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos) return parts;
        at = tab + 1;
    }
}

Journal readJournal(const std::string& path)
{
    Journal j;
    const auto text = readSmallFile(path);
    if (!text) return j;
    const std::string folder = folderPart(path);
    std::istringstream in(*text);
    std::string line;
    if (!std::getline(in, line) || line != kJournalMagic) return j;
    try {
        while (std::getline(in, line)) {
            const auto parts = splitTabs(line);
            if (parts[0] == "primary" && parts.size() == 2) {
                j.primary = pathFromJournal(unescaped(parts[1]), folder);
            } else if (parts[0] == "file" && parts.size() == 5) {
                JournalEntry e;
                e.finalPath = pathFromJournal(unescaped(parts[1]), folder);
                e.temporaryPath = pathFromJournal(unescaped(parts[2]), folder);
                e.newFile.device = std::stoull(parts[3]);
                e.newFile.file = std::stoull(parts[4]);
                j.entries.push_back(std::move(e));
            } else if (parts[0] == "end" && parts.size() == 2) {
                j.whole = std::stoull(parts[1]) == j.entries.size() && !j.entries.empty();
                return j;
            } else {
                return j;
            }
        }
    } catch (const std::exception&) {
        j.whole = false;
    }
    return j;
}

// Writes a small file whole and on the disk, under a name nobody else uses.
bool writeSmallFile(const std::string& path, const std::string& text)
{
    const int fd = platform::openFile(path, platform::Access::CreateNew);
    if (fd < 0) return false;
    const char* at = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const std::int64_t n = platform::writeSome(fd, at, left);
        if (n <= 0) {
            const int error = n == 0 ? ENOSPC : errno;
            platform::releaseFile(fd);
            platform::removeFile(path);
            errno = error;
            return false;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    if (platform::syncFile(fd) != 0) {
        const int error = errno;
        platform::releaseFile(fd);
        platform::removeFile(path);
        errno = error;
        return false;
    }
    if (platform::closeFile(fd) != 0) {
        const int error = errno;
        platform::removeFile(path);
        errno = error;
        return false;
    }
    return true;
}

std::atomic<unsigned long> nextJournal{0};

// The folders this process holds: the lock file's descriptor and how many holds.
struct Held {
    int fd = -1;
    std::string lockPath;
    int holds = 0;
};

std::mutex heldMutex;
std::map<std::string, Held>& heldFolders()
{
    static std::map<std::string, Held> held;
    return held;
}
std::set<std::string>& tidiedFolders()
{
    static std::set<std::string> tidied;
    return tidied;
}

// Makes the lock file and locks it, making sure the lock is on the file that has the
// name: a tidy that found a dead owner's file of this name may remove it meanwhile.
int takeLock(const std::string& lockPath)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int fd = platform::openFile(lockPath, platform::Access::Rewrite);
        if (fd < 0) return -1;
        if (platform::lockFile(fd) == 0) {
            const auto named = platform::identityOf(lockPath);
            const auto held = platform::identityOf(fd);
            if (named && held && *named == *held) return fd;
        }
        platform::releaseFile(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    errno = EBUSY;
    return -1;
}

}  // namespace

const std::string& outputOwner()
{
    static const std::string owner = [] {
        std::random_device device;
        std::uint32_t random = device();
        random ^= static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", random);
        return std::to_string(platform::processId()) + "x" + hex;
    }();
    return owner;
}

FolderHold::FolderHold(const std::string& folder, const std::string& forPath) : folder_(folderKey(folder))
{
    std::lock_guard lock(heldMutex);
    Held& held = heldFolders()[folder_];
    if (held.holds == 0) {
        held.lockPath = joined(folder, lockName(outputOwner()));
        held.fd = takeLock(held.lockPath);
        if (held.fd < 0) {
            const int error = errno;
            heldFolders().erase(folder_);
            throw systemFailure(Failure::CannotCreateOutput, forPath, error);
        }
        // What a killed run left here is put right before this run adds to it.
        if (tidiedFolders().insert(folder_).second) {
            try {
                tidyFolder(folder);
            } catch (const EngineError&) {
                // A folder that cannot be listed: the output's own calls will tell.
            }
        }
    }
    ++held.holds;
}

FolderHold::~FolderHold()
{
    std::lock_guard lock(heldMutex);
    auto it = heldFolders().find(folder_);
    if (it == heldFolders().end() || --it->second.holds > 0) return;
    // Removed while still locked: a tidy that opens it meanwhile finds it held.
    platform::removeFile(it->second.lockPath);
    platform::releaseFile(it->second.fd);
    heldFolders().erase(it);
}

std::vector<std::string> writeJournals(const std::vector<JournalEntry>& entries, const std::string& errorPath)
{
    // One copy in each folder of the group, the first file's folder's (the primary)
    // last: a copy is acted on only once the primary exists.
    std::vector<std::string> folders;
    for (const auto& e : entries) {
        const std::string folder = folderPart(e.finalPath);
        bool seen = false;
        for (const auto& f : folders) seen = seen || folderKey(f) == folderKey(folder);
        if (!seen) folders.push_back(folder);
    }
    const std::string name = ".zrvimage-" + outputOwner() + "-" + std::to_string(nextJournal++) + ".journal";
    const std::string primary = joined(folders.front(), name);
    std::vector<std::string> written;
    const auto write = [&](const std::string& folder, const std::string& primaryOfCopy) {
        const std::string path = joined(folder, name);
        if (!writeSmallFile(path, journalText(entries, folder, primaryOfCopy))) {
            const int error = errno;
            removeJournals(written);
            throw systemFailure(Failure::WriteFailed, errorPath, error);
        }
        written.push_back(path);
        if (platform::syncFolder(folder) != 0) {
            const int error = errno;
            removeJournals(written);
            throw systemFailure(Failure::WriteFailed, errorPath, error);
        }
    };
    for (std::size_t i = 1; i < folders.size(); ++i) write(folders[i], primary);
    write(folders.front(), {});
    return written;
}

void removeJournals(const std::vector<std::string>& journals)
{
    for (const auto& j : journals) platform::removeFile(j);
}

namespace {

bool sameFile(const std::optional<platform::FileIdentity>& a, const platform::FileIdentity& b)
{
    return a && *a == b;
}

// Places every new file of the group that is not under its final name yet. Returns
// the failure's errno, 0 when the group is whole.
int finishGroup(const Journal& journal)
{
    std::set<std::string> folders;
    for (const auto& e : journal.entries) {
        if (sameFile(platform::identityOf(e.finalPath), e.newFile)) continue;
        if (!sameFile(platform::identityOf(e.temporaryPath), e.newFile)) return ENOENT;  // the new file is gone
        if (platform::renameFile(e.temporaryPath, e.finalPath) != 0) return errno;
        folders.insert(folderPart(e.finalPath));
    }
    for (const auto& f : folders) {
        if (platform::syncFolder(f) != 0) return errno;
    }
    return 0;
}

std::vector<std::string> finalNames(const Journal& journal)
{
    std::vector<std::string> names;
    for (const auto& e : journal.entries) names.push_back(e.finalPath);
    return names;
}

// Everything of one dead owner in folder: its journals first, then its temporaries and
// its lock file.
void tidyOwner(const std::string& folder, const std::vector<std::string>& journals,
               const std::vector<std::string>& temporaries, const std::string& lockPath, std::vector<TidyStep>& steps)
{
    bool keep = false;  // a group that could not be finished keeps its temporaries
    for (const auto& path : journals) {
        const Journal j = readJournal(path);
        if (!j.whole) {
            // Cut short while being written: nothing was renamed after it.
            platform::removeFile(path);
            continue;
        }
        const bool act = j.primary.empty() || platform::identityOf(j.primary).has_value();
        if (act) {
            if (const int error = finishGroup(j); error != 0) {
                steps.push_back({TidyStep::Failed, finalNames(j), systemReason(error)});
                keep = true;
                continue;
            }
            steps.push_back({TidyStep::Finished, finalNames(j), {}});
            // The copies in the other folders, then this one.
            const std::string name = namePart(path);
            for (const auto& e : j.entries) {
                const std::string copy = joined(folderPart(e.finalPath), name);
                if (folderKey(folderPart(copy)) != folderKey(folder)) platform::removeFile(copy);
            }
            if (!j.primary.empty()) platform::removeFile(j.primary);
        }
        platform::removeFile(path);
    }
    if (keep) return;
    std::vector<std::string> removed;
    for (const auto& t : temporaries) {
        if (platform::removeFile(joined(folder, t)) == 0) removed.push_back(t);
    }
    if (!removed.empty()) steps.push_back({TidyStep::Removed, removed, {}});
    if (!lockPath.empty()) platform::removeFile(lockPath);
}

}  // namespace

std::vector<TidyStep> tidyFolder(const std::string& folder)
{
    const auto names = platform::folderNames(folder);
    if (!names) throw systemFailure(Failure::CannotOpenInput, folder);

    struct Owner {
        bool lock = false;
        std::vector<std::string> journals;
        std::vector<std::string> temporaries;
    };
    std::map<std::string, Owner> owners;
    std::map<long, std::vector<std::string>> oldTemporaries;
    for (const auto& name : *names) {
        const NameKind k = kindOf(name);
        switch (k.kind) {
        case NameKind::Lock: owners[k.owner].lock = true; break;
        case NameKind::Journal: owners[k.owner].journals.push_back(name); break;
        case NameKind::Temporary: owners[k.owner].temporaries.push_back(name); break;
        case NameKind::OldTemporary: oldTemporaries[k.pid].push_back(name); break;
        case NameKind::Other: break;
        }
    }

    std::vector<TidyStep> steps;
    for (auto& [owner, files] : owners) {
        if (owner == outputOwner()) continue;  // this process's own, being written
        // The lock file is made before anything else of its owner's, and goes last:
        // without it the owner is gone. With it, its lock tells.
        std::string lockPath;
        int lockFd = -1;
        if (files.lock) {
            lockPath = joined(folder, lockName(owner));
            lockFd = platform::openFile(lockPath, platform::Access::Read);
            if (lockFd < 0 && errno == ENOENT) {
                lockPath.clear();
            } else if (lockFd < 0 || platform::lockFile(lockFd) != 0) {
                platform::releaseFile(lockFd);
                std::vector<std::string> theirs = files.journals;
                theirs.insert(theirs.end(), files.temporaries.begin(), files.temporaries.end());
                if (!theirs.empty()) steps.push_back({TidyStep::Running, theirs, {}});
                continue;
            }
        }
        std::vector<std::string> journals;
        for (const auto& j : files.journals) journals.push_back(joined(folder, j));
        tidyOwner(folder, journals, files.temporaries, lockPath, steps);
        platform::releaseFile(lockFd);
    }
    // Temporaries from before owners had lock files: their process number says whose.
    for (const auto& [pid, temporaries] : oldTemporaries) {
        if (pid == platform::processId() || platform::processRunning(pid)) continue;
        std::vector<std::string> removed;
        for (const auto& t : temporaries) {
            if (platform::removeFile(joined(folder, t)) == 0) removed.push_back(t);
        }
        if (!removed.empty()) steps.push_back({TidyStep::Removed, removed, {}});
    }
    return steps;
}

std::string tidyLine(const TidyStep& step)
{
    std::string names;
    for (const auto& n : step.names) names += (names.empty() ? "" : ", ") + n;
    switch (step.kind) {
    case TidyStep::Finished: return "中断された書き込みを完了しました: " + names;
    case TidyStep::Removed: return "中断された書き込みの一時ファイルを削除しました: " + names;
    case TidyStep::Running: return "実行中のプログラムのファイルのため残しました: " + names;
    case TidyStep::Failed: return "中断された書き込みを完了できませんでした（" + step.reason + "）: " + names;
    }
    return {};
}

}  // namespace engine
