// How a saved file goes into place: which refusals are tried again, which
// way round the system's replace goes, and what an interrupted replace
// leaves. Portable, so that answers Wine never gives are tested too.
#pragma once

#include <string>

namespace platform {

// Raises IOError with what the save left where: a format for the code's
// own message, then the names given.
[[noreturn]] void RaiseLeft(unsigned code, const char* left, const std::string& name = std::string(),
                            const std::string& other = std::string());

// The calls a save makes to put its new file in place, each answering 0 or
// the system's error code. The product takes the system's own.
class PlacingCalls {
public:
    // Puts replacement at target; the old file goes to backup meanwhile.
    virtual unsigned Replace(const std::string& target, const std::string& replacement,
                             const std::string& backup) = 0;
    // Without replace, a file at `to` refuses the move.
    virtual unsigned Move(const std::string& from, const std::string& to, bool replace) = 0;
    virtual unsigned Remove(const std::string& name) = 0;
    // Takes a save's hidden mark off: the old file's hidden and system
    // attributes for the file in place (asOld), none for a new file kept
    // beside it, so that no sweep takes it.
    virtual unsigned Reveal(const std::string& name, bool asOld) = 0;
    virtual bool Exists(const std::string& name) = 0;
    // What an open of the old file, as the save makes it, answers; 0 when
    // it opens or has gone.
    virtual unsigned WhyNotReplaced(const std::string& target) = 0;
    // A clock for the retries, and a pause between them.
    virtual unsigned Milliseconds() = 0;
    virtual void Pause(unsigned milliseconds) = 0;

protected:
    ~PlacingCalls() = default;
};

// Replacement takes the old file's place; backup is a free name beside it.
// Raises IOError when the new content is not at target; then the old one
// is, unless the message names the file that may hold it. Never removes a
// file that someone else put at the name meanwhile: the new file then stays
// beside it, and the message names both. Replacement is cleared once the new
// file is no longer the save's to remove: in place, or kept beside.
void PlaceReplacing(PlacingCalls& calls, const std::string& target, std::string& replacement,
                    const std::string& backup);

// Replacement takes the name target by one rename, replacing what is there
// only when told to (the old file was there at the start); cleared as above.
void PlaceByName(PlacingCalls& calls, std::string& replacement, const std::string& target, bool replace);

} // namespace platform
