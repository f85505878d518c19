#include "common/QVFilePropsFrm.h"

// The properties window is not built yet: nothing is shown.
void ShowFileProperties(const std::string&) {}
