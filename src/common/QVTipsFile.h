#pragma once
// The tips file: 8-bit text, one tip per line. Splitting, reading and
// shuffling need no window, so they can be tested without a display.
#include <random>
#include <string>
#include <vector>

namespace qv {

// The tips of a text: a line ends at a carriage return, a line feed, or a
// carriage return followed by a line feed; a last line without an ending
// counts, an ending at the very end adds no empty tip; a NUL ends the text;
// a blank line is an empty tip. Empty text has no tips.
std::vector<std::string> SplitTips(const std::string& text);

// Reads the file's tips into `tips` (replacing what it held). Returns false,
// with `tips` empty, when the file cannot be opened or read.
bool ReadTipsFile(const std::string& path, std::vector<std::string>& tips);

// Puts the lines in a random order: each draw takes one of the lines left,
// every one equally likely, and appends it to the result.
void ShuffleStrings(std::vector<std::string>& lines, std::mt19937& random);
// The same with a generator seeded from the clock.
void ShuffleStrings(std::vector<std::string>& lines);

}  // namespace qv
