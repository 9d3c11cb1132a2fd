#include "converters.h"

int main(int argc, char** argv) { return ziv::run_wrapper(ziv::kTxtload, argc, argv); }
