#pragma once
// The preferences dialog.

// Shows the preferences dialog modally on its first page.
void ShowOptionsDialog();
