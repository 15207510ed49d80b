#include "run.h"

int main(int argc, char** argv) { return tsconv::run_tsconv(argc, argv); }
