#include "extract.h"

#if defined(_WIN32)
// The wide entry point: the image path arrives as Windows holds it, not as
// the ANSI code page would render it.
int wmain(int argc, wchar_t** argv) { return runImgpryWide(argc, argv); }
#else
#include <cstdlib>

int main(int argc, char** argv) {
    // With TZ unset, the C library looks at /etc/localtime again on every
    // local-time conversion (one stat per file written with a date). Naming
    // that same zone file in TZ says the same thing once for the run.
    if (std::getenv("TZ") == nullptr) (void)setenv("TZ", ":/etc/localtime", 0);
    return runImgpry(argc, argv);
}
#endif
