#include "tools/sheet/sheet.h"

int main(int argc, char** argv) { return SheetMain(argc, argv); }
