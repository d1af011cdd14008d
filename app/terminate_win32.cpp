// The program's terminate handler. The C++ library's default one prints the
// demangled type of an escaping exception to a console this GUI program does
// not have; defining it here keeps the demangler (about 40 KB) out of the
// program. Nothing in the program lets an exception escape.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
