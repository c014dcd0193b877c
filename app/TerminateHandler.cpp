// The stub's terminate handler: ends the process without a report.
//
// Nothing in the program catches an exception, so an uncaught one (out of
// memory, or a string buffer that lost its terminator) ends the process
// through std::terminate. libstdc++'s default handler first writes the
// exception's demangled type to stderr, which a GUI program does not have,
// and the demangler it needs would take about a fifth of the stub's size
// limit. This definition takes the place of the library's default handler
// at static link time; like that handler, it ends the process with abort().
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler();

void __verbose_terminate_handler()
{
    std::abort();
}

} // namespace __gnu_cxx
