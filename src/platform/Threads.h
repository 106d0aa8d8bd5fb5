// Side-by-side work for the portable core.
#pragma once

#include <cstddef>
#include <functional>

namespace platform {

// Runs `work` on up to `extra` more threads and on the calling one, and
// returns when all are done. Fewer threads run when the system has none to
// give; the caller's share then grows.
void RunSideBySide(std::size_t extra, const std::function<void()>& work);

} // namespace platform
