#pragma once
// The program's error report dialog: an icon, a message, an OK button and a
// collapsible read-only pane with technical details.
#include <cstdint>
#include <string>

#include "common/QVMsgFrm.h"

enum QVDetailsType : std::uint8_t { qdtCritical = 0, qdtWarning = 1, qdtInformation = 2 };

// Shows the dialog modally, owned by the application's main form. Both texts
// pass through NormalizeLineBreaks. The Details button appears only when there
// are details; ShowDetails opens the pane from the start. An invalid language
// or type raises std::runtime_error before anything is shown.
void QVMessageDetails(const std::string& Text, const std::string& Details, const std::string& Caption,
                      QVDetailsType MsgType, QVLanguage Language, const std::string& FontFace, bool ShowDetails);

namespace qv {
// Outer heights of the dialog, at 96 DPI, with the pane closed and open.
constexpr int kDetailsClosedHeight = 102;
constexpr int kDetailsOpenHeight = 212;
}  // namespace qv
