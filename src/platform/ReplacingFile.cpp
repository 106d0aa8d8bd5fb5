// What a replacing save does alike on every system: the new file's name
// beside the target, and its removal when the save does not complete.
#include "platform/File.h"

#include "platform/Errors.h"
#include "platform/Placing.h"

#include <ctime>

namespace platform {

namespace {

// ERROR_FILE_EXISTS; the POSIX layer gives it for EEXIST.
constexpr unsigned FILE_EXISTS = 80;
constexpr int NAME_TRIES = 100;
constexpr char SCRATCH_PREFIX[] = "~FL";
constexpr char SCRATCH_SUFFIX[] = ".tmp";
// Never the sweep's: a backup holds the user's old file.
constexpr char BACKUP_SUFFIX[] = ".bak";
constexpr std::size_t SCRATCH_DIGITS = 4;
// The folder the last save swept, and when.
constexpr std::time_t SWEEP_AGAIN_S = 3600;
std::string SweptFolder;
std::time_t SweptAt = 0;

// Where to start numbering: two saves rarely start from the same number.
// (The library's clocks would add a tenth to the executable.)
unsigned FirstNumber() { return static_cast<unsigned>(std::time(nullptr)); }

// The Windows codes the placing tells apart.
constexpr unsigned INVALID_FUNCTION = 1;
constexpr unsigned FILE_NOT_FOUND = 2;
constexpr unsigned ACCESS_DENIED = 5;
constexpr unsigned SHARING_VIOLATION = 32;
constexpr unsigned LOCK_VIOLATION = 33;
constexpr unsigned NOT_SUPPORTED = 50;
constexpr unsigned INVALID_PARAMETER = 87;
constexpr unsigned UNABLE_TO_REMOVE_REPLACED = 1175;
constexpr unsigned UNABLE_TO_MOVE_REPLACEMENT = 1176;
constexpr unsigned ALREADY_EXISTS = 183;
constexpr unsigned UNABLE_TO_MOVE_REPLACEMENT_2 = 1177;

// A scanner, an indexer or a reader holds a file for a moment: a refusal
// for that reason, which leaves both files as they were, is tried again,
// within a quarter of a second for the whole save, by the clock (a call on
// a dropping share blocks until the network gives up), since the agent
// waits on its one window thread. What cannot pass is said at once.
class Retrying {
public:
    explicit Retrying(PlacingCalls& calls) : calls_(calls), start_(calls.Milliseconds()) {}

    template <typename Call>
    unsigned operator()(Call call) {
        return Run(&call, [](void* call) { return (*static_cast<Call*>(call))(); });
    }

private:
    unsigned Run(void* call, unsigned (*invoke)(void*)) {
        for (;;) {
            const unsigned code = invoke(call);
            const bool passing = code == SHARING_VIOLATION || code == LOCK_VIOLATION ||
                                 code == UNABLE_TO_REMOVE_REPLACED || code == UNABLE_TO_MOVE_REPLACEMENT;
            if (!passing || calls_.Milliseconds() - start_ >= BUDGET_MS) return code;
            calls_.Pause(PAUSE_MS);
        }
    }

    static constexpr unsigned PAUSE_MS = 25, BUDGET_MS = 250;
    PlacingCalls& calls_;
    unsigned start_;
};

bool Taken(unsigned code) { return code == FILE_EXISTS || code == ALREADY_EXISTS; }

// The new file to the target's name, replacing what is there only when told
// to. A recovery's rename never replaces: a file at the name by now is
// someone else's (a sync client, an editor), and it stays; the new file then
// stays beside it, in sight, where no sweep takes it, and the message names
// the files. Answers the rename's own refusal otherwise.
unsigned MoveNew(Retrying& retrying, PlacingCalls& calls, std::string& replacement, const std::string& target,
                 bool replace, const std::string& backup = std::string()) {
    const unsigned code = retrying([&] { return calls.Move(replacement, target, replace); });
    if (code == 0) replacement.clear();
    if (replace || !Taken(code)) return code;
    calls.Reveal(replacement, false);
    const std::string kept = std::move(replacement);
    replacement.clear();
    RaiseLeft(code,
              backup.empty() ? "%s: another file has taken the name; the new file is %s"
                             : "%s: another file has taken the name; the new file is %s, the old one %s",
              kept, backup);
}

// The old file after a save that went through; one that stays is named.
void RemoveBackup(Retrying& retrying, PlacingCalls& calls, const std::string& backup) {
    const unsigned code = retrying([&] { return calls.Remove(backup); });
    if (code != 0 && code != FILE_NOT_FOUND) RaiseLeft(code, "%s: the new file is in place, the old one stays at %s", backup);
}

// Out of a save's hiding, or the save says that it stays hidden.
void Reveal(Retrying& retrying, PlacingCalls& calls, const std::string& target) {
    if (const unsigned code = retrying([&] { return calls.Reveal(target, true); }))
        RaiseLeft(code, "%s: the new file is in place, but hidden");
}

} // namespace

void RaiseLeft(unsigned code, const char* left, const std::string& name, const std::string& other) {
    throw IOError(code, Format(left, IOErrorMessage(code).c_str(), name.c_str(), other.c_str()));
}

void PlaceReplacing(PlacingCalls& calls, const std::string& target, std::string& replacement,
                    const std::string& backup) {
    Retrying retrying(calls);
    unsigned code = retrying([&] {
        const unsigned replaced = calls.Replace(target, replacement, backup);
        // The old file went to the backup name and the new one did not
        // follow it (1177, or a crash or a dropped share between the call's
        // two renames): bring the old one back, and both are as they were.
        if (replaced == 0 || calls.Exists(target) || !calls.Exists(backup)) return replaced;
        if (retrying([&] { return calls.Move(backup, target, false); }) != 0) return UNABLE_TO_MOVE_REPLACEMENT_2;
        return replaced == UNABLE_TO_MOVE_REPLACEMENT_2 ? UNABLE_TO_MOVE_REPLACEMENT : replaced;
    });
    switch (code) {
    case 0:
        replacement.clear();
        RemoveBackup(retrying, calls, backup);
        break;
    case FILE_NOT_FOUND:
        // The old file went away meanwhile (a sync client, the user): the
        // new one takes the free name.
        if ((code = MoveNew(retrying, calls, replacement, target, false))) throw IOError(code);
        break;
    case INVALID_FUNCTION:
    case ACCESS_DENIED:
    case NOT_SUPPORTED:
    case INVALID_PARAMETER:
        // Refused as a whole, both files as they were: a redirector without
        // the call, or a share that grants changing files but not their
        // security. One rename is what such volumes offer.
        if ((code = MoveNew(retrying, calls, replacement, target, true))) throw IOError(code);
        break;
    case UNABLE_TO_MOVE_REPLACEMENT_2:
        // The old file is at the backup name, and the name is free or
        // someone else's by now: the new content goes there rather than away.
        if (MoveNew(retrying, calls, replacement, target, false, backup)) RaiseLeft(code, "%s: the old file is now %s", backup);
        RemoveBackup(retrying, calls, backup);
        break;
    case UNABLE_TO_REMOVE_REPLACED:
    case UNABLE_TO_MOVE_REPLACEMENT:
        // These say which step failed, not why: the open a save makes tells.
        if (const unsigned why = calls.WhyNotReplaced(target)) code = why;
        throw IOError(code);
    default:
        // A share that dropped between the call's two renames hides both
        // names: the old file may be at the backup's.
        if (!calls.Exists(target)) RaiseLeft(code, "%s: the old file may be at %s", backup);
        throw IOError(code);
    }
    Reveal(retrying, calls, target);
}

void PlaceByName(PlacingCalls& calls, std::string& replacement, const std::string& target, bool replace) {
    Retrying retrying(calls);
    if (const unsigned code = MoveNew(retrying, calls, replacement, target, replace)) throw IOError(code);
    Reveal(retrying, calls, target);
}

ReplacingFile::ReplacingFile(const std::string& target, File::Mode mode, Into into)
    : target_(target), mode_(mode), into_(into) {
    CheckOld();
    if (!file_) CreateBeside();
}

// A crash between the create and the move leaves a file whose name says
// whose it is.
std::string ReplacingFile::NameBeside(const std::string& target, unsigned number, bool backup) {
    return FolderOf(target) +
           Format("%s%04X%s", SCRATCH_PREFIX, number & 0xFFFF, backup ? BACKUP_SUFFIX : SCRATCH_SUFFIX);
}

bool ReplacingFile::IsScratchName(std::string_view name) {
    const std::size_t prefix = sizeof SCRATCH_PREFIX - 1, suffix = sizeof SCRATCH_SUFFIX - 1;
    if (name.size() != prefix + SCRATCH_DIGITS + suffix || name.substr(0, prefix) != SCRATCH_PREFIX ||
        CompareText(name.substr(prefix + SCRATCH_DIGITS), SCRATCH_SUFFIX) != 0)
        return false;
    const std::string_view digits = name.substr(prefix, SCRATCH_DIGITS);
    return digits.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

std::string ReplacingFile::FolderOf(const std::string& target) {
    // By characters: a second byte can be a backslash. A slash never is one.
    std::size_t start = NameStart(target);
    const std::size_t slash = target.find_last_of('/');
    if (slash != std::string::npos && slash >= start) start = slash + 1;
    return target.substr(0, start);
}

void ReplacingFile::CreateBeside() {
    // A crash's leftovers are rare and taken only a day old: a folder swept
    // within the hour is not searched again at every save (a hand-off's).
    const std::string folder = FolderOf(target_);
    const std::time_t now = std::time(nullptr);
    if (folder != SweptFolder || now < SweptAt || now - SweptAt >= SWEEP_AGAIN_S) {
        RemoveLeftovers(folder);
        SweptFolder = folder;
        SweptAt = now;
    }
    unsigned number = FirstNumber();
    for (int tries = 1;; ++tries, ++number) {
        const std::string name = NameBeside(target_, number);
        try {
            file_ = File::Open(name, encrypted_ ? File::Mode::CreateScratchEncrypted : File::Mode::CreateScratch);
            temporary_ = name;
            return;
        } catch (const IOError& error) {
            if (error.Code() != FILE_EXISTS || tries == NAME_TRIES) throw;
        }
    }
}

ReplacingFile::~ReplacingFile() {
    if (temporary_.empty()) return;
    { File closed = std::move(file_); }
    RemoveFile(temporary_);
}

void ReplacingFile::Commit() {
    if (temporary_.empty()) {
        file_.Close();
        return;
    }
    MoveIntoPlace();
    temporary_.clear();
}

std::string ReplacingFile::FreeBackupName(PlacingCalls& calls) const {
    unsigned number = calls.Milliseconds();
    for (int tries = 0; tries < NAME_TRIES; ++tries, ++number) {
        std::string backup = NameBeside(target_, number, true);
        if (!calls.Exists(backup)) return backup;
    }
    RaiseLeft(FILE_EXISTS, "%s: no free name beside %s for the old file", target_);
}

} // namespace platform
