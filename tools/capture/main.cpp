#include "tools/capture/capture.h"

int main(int argc, char** argv) { return CaptureMain(argc, argv); }
