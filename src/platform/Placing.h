// How a saved file goes into place: which refusals are tried again, which
// way round the system's replace goes, and what an interrupted replace
// leaves. Portable, so that answers Wine never gives are tested too.
#pragma once

#include <string>

namespace platform {

// The calls a save makes to put its new file in place, each answering 0 or
// the system's error code. The product takes the system's own.
class PlacingCalls {
public:
    // Puts replacement at target; the old file goes to backup meanwhile.
    virtual unsigned Replace(const std::string& target, const std::string& replacement,
                             const std::string& backup) = 0;
    // Without replace, a file at `to` refuses the move.
    virtual unsigned Move(const std::string& from, const std::string& to, bool replace) = 0;
    // Gives the new file the old one's encryption, which a rename would not
    // carry over; 0 too where the old file had none.
    virtual unsigned Encrypt(const std::string& replacement) = 0;
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
// is, unless the message names the file that holds it.
void PlaceReplacing(PlacingCalls& calls, const std::string& target, const std::string& replacement,
                    const std::string& backup);

// Replacement takes the name target by one rename.
void PlaceByName(PlacingCalls& calls, const std::string& replacement, const std::string& target);

} // namespace platform
