#pragma once
// Sending mail through the system's mail program.
#include <windows.h>

class TQVApplication;

// Opens a new message to the record's support address in the user's mail
// program, owned by `owner`.
void SendSupportEmail(HWND owner, const TQVApplication& record);
