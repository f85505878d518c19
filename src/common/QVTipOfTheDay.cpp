#include "common/QVTipOfTheDay.h"

// The tip window is not built yet: nothing is shown and the option keeps its
// value.
bool ShowTipOfTheDay(const TQVApplication&, bool showTips, bool) { return showTips; }
