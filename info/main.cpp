#include "info.h"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return runInfoWide(argc, argv); }
#else
int main(int argc, char** argv) { return runInfo(argc, argv); }
#endif
