#include "shell/shell.h"

// Until the settings dialog is built, it counts as a dialog that cannot be
// shown: the run goes on with the defaults.
intptr_t ShowSettingsDialog() { return -1; }
