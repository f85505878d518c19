#include "common/QVMapi.h"

// The mail component is not built yet: nothing is sent and nothing is shown.
void SendSupportEmail(HWND, const TQVApplication&) {}
