// Cutting and searching text.
//
// Every text here is an 8-bit (Windows-1251) string; comparisons are by
// character code. An empty marker or separator never occurs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mkp {

// Trims characters at or below the blank at both ends (blanks, control chars).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
// ASCII letters upper-cased, other bytes unchanged.
std::string UpperCase(std::string_view text);

// Deletes every occurrence of marker, repeating until none is left.
void RemoveAll(std::string& text, std::string_view marker);
// Replaces old by replacement, leftmost first, until old no longer occurs.
// Nothing happens when old equals replacement, or when old is empty. A
// replacement that contains old is replaced once per original occurrence.
// A rewrite that would grow without end stops after a bounded amount of work.
void ReplaceAll(std::string& text, std::string_view old, std::string_view replacement);
// Every run of blanks becomes one blank.
void SqueezeBlanks(std::string& text);
// While both markers occur, deletes from the first opening marker through the
// end of the first closing marker that follows it. A closing marker standing
// before every opening marker is left in the text.
void RemoveSpans(std::string& text, std::string_view opening, std::string_view closing);
// If "//" occurs, deletes from it to the end.
void CutLineComment(std::string& text);
// The first two characters (fewer if the text is shorter).
std::string FirstTwoChars(std::string_view text);
// Deletes the first two characters and the blanks after them; true when the
// text had at least two characters.
bool DropTwoChars(std::string& text);
// Leading blanks trimmed; the part before the first blank.
std::string FirstWord(std::string_view text);
// Leading blanks trimmed; deletes through the first blank and trims again, or
// empties the text when there is no blank. True when the text was not empty
// after the first trim.
bool DropFirstWord(std::string& text);
// The part before the first separator; the whole text without one.
std::string TextBefore(std::string_view text, std::string_view separator);
// Deletes through the first separator and returns true; without one empties
// the text and returns false.
bool DropThrough(std::string& text, std::string_view separator);
// Left and right of the first separator; both empty when it does not occur.
void SplitAtFirst(std::string_view text, std::string_view separator, std::string& left,
                  std::string& right);
// Deletes through the end of the first start marker (when it occurs), then
// from the first end marker onward (when it occurs in what is left).
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);
// True when start occurs and end occurs somewhere after the end of it.
bool HasTextBetween(std::string_view text, std::string_view start, std::string_view end);
// Appends fill until the length is at least width.
std::string PadToWidth(std::string_view text, std::string_view fill, std::size_t width);
// Puts fill in front until the length is at least width or reaches 255
// (a longer text comes back unchanged; nothing is cut off).
std::string PadShortLeft(std::string_view text, std::string_view fill, std::size_t width);

}  // namespace mkp
