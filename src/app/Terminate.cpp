// Every exception is caught at the window procedure or at WinMain, so the
// library's verbose terminate handler, with its symbol demangler (a fifth of
// the executable), would never print anything: end plainly instead.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx
