#include "srec.h"

int main(int argc, char** argv) { return ziv::run_recraw(argc, argv); }
