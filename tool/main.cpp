#include "extract.h"

int main(int argc, char** argv) { return runImgpry(argc, argv); }
