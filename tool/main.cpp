#include "extract.h"

#if defined(_WIN32)
// The wide entry point: the image path arrives as Windows holds it, not as
// the ANSI code page would render it.
int wmain(int argc, wchar_t** argv) { return runImgpryWide(argc, argv); }
#else
int main(int argc, char** argv) { return runImgpry(argc, argv); }
#endif
