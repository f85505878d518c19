#pragma once
// The program's own message dialog: an icon, a message and one of five fixed
// button sets, with English or Portuguese captions. Returns the answer.
#include <cstdint>
#include <string>

#include "common/QVLanguage.h"

enum QVMessageType : std::uint8_t { qmtError = 0, qmtWarning = 1, qmtInformation = 2, qmtQuestion = 3 };

enum QVButtons : std::uint8_t {
    qbOK = 0,
    qbYesNo = 1,
    qbYesNoCancel = 2,
    qbYesNoCancelAll = 3,
    qbYesAllNoAllCancel = 4,
    qbOKCancel = 5,  // a step of a series that the user may stop
};

enum QVResult : std::uint8_t { qrOK = 0, qrYes = 1, qrYesToAll = 2, qrNo = 3, qrNoToAll = 4, qrCancel = 5, qrAll = 6 };


// Shows the dialog modally, owned by the application's main form, and returns
// the answer; closing it without a button gives the set's escape result.
// An invalid language, type or button set raises std::runtime_error before
// anything is shown. An empty caption shows the application title; an empty
// or uninstalled font face keeps Tahoma.
QVResult QVMessage(const std::string& Text, const std::string& Caption, QVMessageType MsgType, QVButtons Buttons,
                   std::int16_t DefaultButton, QVLanguage Language, const std::string& FontFace);

namespace qv {

// Captions of the dialogs' buttons in one language.
struct TButtonCaptions {
    const char* Yes;
    const char* No;
    const char* Cancel;
    const char* OK;
    const char* YesToAll;
    const char* NoToAll;
    const char* All;
    const char* DetailsClosed;
    const char* DetailsOpen;
};

// The captions of a language; null for an invalid language.
const TButtonCaptions* ButtonCaptions(QVLanguage language);

}  // namespace qv
