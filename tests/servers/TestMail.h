#pragma once
// The test mail library: a MAPI32.DLL of our own, placed beside the test
// program, whose MAPISendMail and MAPISendMailW record what they were given
// and return the code the test asked for. The test reads the record through
// the library's two extra exports. TestMailAnsi.dll, in the test data, is
// the same library without MAPISendMailW, as older mail libraries are.
#include <windows.h>

struct TestMailRecipient {
    ULONG recipClass;
    ULONG reserved;
    char name[128];
    char address[160];
    ULONG entryIdSize;
    BOOL entryIdNull;
};

struct TestMailFile {
    ULONG reserved;
    ULONG flags;
    ULONG position;
    char pathName[MAX_PATH];
    char fileName[MAX_PATH];
    BOOL fileTypeNull;
};

struct TestMailRecord {
    ULONG calls;  // MAPISendMail and MAPISendMailW calls since the last reset
    BOOL wide;    // the last call came through MAPISendMailW; its texts are kept as UTF-8
    ULONG_PTR session;
    ULONG_PTR uiParam;
    BOOL ownerEnabledDuringCall;  // IsWindowEnabled(uiParam) inside the call
    ULONG flags;
    ULONG reserved;
    ULONG messageReserved;
    char subject[256];
    char noteText[256];
    BOOL messageTypeNull;
    BOOL dateReceivedNull;
    BOOL conversationIdNull;
    ULONG messageFlags;
    BOOL originatorNull;
    TestMailRecipient originator;
    ULONG recipCount;
    BOOL recipsNull;
    TestMailRecipient recips[8];
    ULONG fileCount;
    BOOL filesNull;
    TestMailFile files[4];
};

// Exports beside MAPISendMail: clears the record and sets the code the next
// calls return; gives the record.
using TestMailResetProc = void(WINAPI*)(ULONG result);
using TestMailLastRecordProc = const TestMailRecord*(WINAPI*)();
