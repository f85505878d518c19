#include "options/frmOptions.h"

// The preferences dialog is not built yet: nothing is shown.
void ShowOptionsDialog() {}
