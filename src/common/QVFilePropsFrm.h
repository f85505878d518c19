#pragma once
// The file properties window.
#include <string>

// Shows the properties of the file at `path` in a modal window.
void ShowFileProperties(const std::string& path);
