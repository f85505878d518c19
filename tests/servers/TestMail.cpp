// The test mail library (see TestMail.h).
#include <windows.h>
#include <mapi.h>

#include "TestMail.h"

namespace {
TestMailRecord record;
ULONG nextResult = SUCCESS_SUCCESS;

void Copy(char* to, size_t size, const char* from) {
    lstrcpynA(to, from ? from : "<null>", static_cast<int>(size));
}

void CopyRecipient(TestMailRecipient& to, const MapiRecipDesc& from) {
    to.recipClass = from.ulRecipClass;
    to.reserved = from.ulReserved;
    Copy(to.name, sizeof to.name, from.lpszName);
    Copy(to.address, sizeof to.address, from.lpszAddress);
    to.entryIdSize = from.ulEIDSize;
    to.entryIdNull = from.lpEntryID == nullptr;
}
}  // namespace

extern "C" ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags,
                                     ULONG reserved) {
    ++record.calls;
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
        const MapiFileDesc& from = message->lpFiles[i];
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

extern "C" void WINAPI TestMailReset(ULONG result) {
    record = TestMailRecord{};
    nextResult = result;
}

extern "C" const TestMailRecord* WINAPI TestMailLastRecord() { return &record; }
