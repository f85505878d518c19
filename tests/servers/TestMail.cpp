// The test mail library (see TestMail.h).
#include <windows.h>
#include <mapi.h>

#include "TestMail.h"
#include "common/QVMapiW.h"

namespace {
TestMailRecord record;
ULONG nextResult = SUCCESS_SUCCESS;

void Copy(char* to, size_t size, const char* from) {
    lstrcpynA(to, from ? from : "<null>", static_cast<int>(size));
}

#ifndef TEST_MAIL_ANSI_ONLY
// A wide text is kept as UTF-8, so the test compares it with the program's
// own text.
void Copy(char* to, size_t size, const wchar_t* from) {
    if (!from) return Copy(to, size, "<null>");
    to[0] = '\0';
    if (WideCharToMultiByte(CP_UTF8, 0, from, -1, to, static_cast<int>(size), nullptr, nullptr) == 0) {
        Copy(to, size, "<too long>");
    }
}
#endif

template <class Recip>
void CopyRecipient(TestMailRecipient& to, const Recip& from) {
    to.recipClass = from.ulRecipClass;
    to.reserved = from.ulReserved;
    Copy(to.name, sizeof to.name, from.lpszName);
    Copy(to.address, sizeof to.address, from.lpszAddress);
    to.entryIdSize = from.ulEIDSize;
    to.entryIdNull = from.lpEntryID == nullptr;
}

// Records one call of either entry point.
template <class Message>
ULONG Record(LHANDLE session, ULONG_PTR uiParam, Message* message, FLAGS flags, ULONG reserved, BOOL wide) {
    ++record.calls;
    record.wide = wide;
    record.session = session;
    record.uiParam = uiParam;
    record.ownerEnabledDuringCall = IsWindowEnabled(reinterpret_cast<HWND>(uiParam));
    record.flags = flags;
    record.reserved = reserved;
    if (!message) return MAPI_E_FAILURE;
    record.messageReserved = message->ulReserved;
    Copy(record.subject, sizeof record.subject, message->lpszSubject);
    Copy(record.noteText, sizeof record.noteText, message->lpszNoteText);
    record.messageTypeNull = message->lpszMessageType == nullptr;
    record.dateReceivedNull = message->lpszDateReceived == nullptr;
    record.conversationIdNull = message->lpszConversationID == nullptr;
    record.messageFlags = message->flFlags;
    record.originatorNull = message->lpOriginator == nullptr;
    if (message->lpOriginator) CopyRecipient(record.originator, *message->lpOriginator);
    record.recipCount = message->nRecipCount;
    record.recipsNull = message->lpRecips == nullptr;
    for (ULONG i = 0; message->lpRecips && i < message->nRecipCount && i < 8; ++i) {
        CopyRecipient(record.recips[i], message->lpRecips[i]);
    }
    record.fileCount = message->nFileCount;
    record.filesNull = message->lpFiles == nullptr;
    for (ULONG i = 0; message->lpFiles && i < message->nFileCount && i < 4; ++i) {
        const auto& from = message->lpFiles[i];
        TestMailFile& to = record.files[i];
        to.reserved = from.ulReserved;
        to.flags = from.flFlags;
        to.position = from.nPosition;
        Copy(to.pathName, sizeof to.pathName, from.lpszPathName);
        Copy(to.fileName, sizeof to.fileName, from.lpszFileName);
        to.fileTypeNull = from.lpFileType == nullptr;
    }
    return nextResult;
}
}  // namespace

extern "C" ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags,
                                     ULONG reserved) {
    return Record(session, uiParam, message, flags, reserved, FALSE);
}

#ifndef TEST_MAIL_ANSI_ONLY
extern "C" ULONG WINAPI MAPISendMailW(LHANDLE session, ULONG_PTR uiParam, MapiMessageW* message, FLAGS flags,
                                      ULONG reserved) {
    return Record(session, uiParam, message, flags, reserved, TRUE);
}
#endif

extern "C" void WINAPI TestMailReset(ULONG result) {
    record = TestMailRecord{};
    nextResult = result;
}

extern "C" const TestMailRecord* WINAPI TestMailLastRecord() { return &record; }
