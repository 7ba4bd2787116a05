// Finding and filtering pane lines, without the toolkit: a matcher for a
// search text or regular expression with a bounded amount of work per line,
// the index of the matching lines of a capped pane, and the kind of a line
// (sent, received, message) that its colour follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mkpt {

// What the find bar asks for.
struct TFindQuery {
  std::string Text;  // UTF-8
  bool Regex = false;
  bool MatchCase = false;
  bool operator==(const TFindQuery&) const = default;
};

// A compiled query. Lines are UTF-8; a case-insensitive search folds
// Cyrillic letters as well as Latin ones. A regular expression that would
// take more than a bounded number of steps on a line counts as no match
// there, so a pathological pattern never stalls the window.
// Not safe for use by two threads at once (it keeps its match buffer).
class TLineMatcher {
public:
  // Steps allowed per line before the match is given up.
  static constexpr std::uint32_t WorkLimit = 200000;

  explicit TLineMatcher(const TFindQuery& query);
  ~TLineMatcher();
  TLineMatcher(const TLineMatcher&) = delete;
  TLineMatcher& operator=(const TLineMatcher&) = delete;

  const TFindQuery& Query() const { return query_; }
  // False for an empty text or a regular expression that does not compile.
  bool Valid() const { return code_ != nullptr; }
  // Why the expression does not compile ("" when it does, or when empty).
  const std::string& Error() const { return error_; }

  bool Matches(std::string_view line) const;
  // The matched parts of a line as byte offset and length, in order; an
  // empty match is skipped. At most maxSpans are returned.
  std::vector<std::pair<std::size_t, std::size_t>> Spans(std::string_view line, std::size_t maxSpans = 64) const;
  // Lines given up on because of WorkLimit since the matcher was made.
  std::uint64_t GivenUp() const { return givenUp_; }

private:
  int Run(std::string_view line, std::size_t start) const;
  TFindQuery query_;
  std::string error_;
  void* code_ = nullptr;   // pcre2_code_8
  void* data_ = nullptr;   // pcre2_match_data_8
  void* context_ = nullptr;  // pcre2_match_context_8
  mutable std::uint64_t givenUp_ = 0;
};

// The matching lines of a pane that keeps its newest lines. Lines are counted
// by sequence number: line i of the pane is line FirstSeq() + i ever added.
class TMatchIndex {
public:
  void Reset(std::uint64_t firstSeq = 0);
  // The next line: appended after the last, matching or not.
  void Push(bool matches);
  // The oldest n lines leave the pane; returns how many of them matched.
  std::size_t DropFront(std::size_t n);

  std::size_t LineCount() const { return lines_; }
  std::size_t MatchCount() const { return matches_.size(); }
  std::uint64_t FirstSeq() const { return first_; }
  // The pane line of the k-th match (k < MatchCount()).
  std::size_t MatchLine(std::size_t k) const { return static_cast<std::size_t>(matches_[k] - first_); }
  // How many matches come before pane line i.
  std::size_t MatchesBefore(std::size_t line) const;
  bool LineMatches(std::size_t line) const;

private:
  std::uint64_t first_ = 0;
  std::size_t lines_ = 0;
  std::deque<std::uint64_t> matches_;  // sequence numbers, ascending
};

enum class TLineKind : std::uint8_t { Sent, Received, Message };

// The kind of a pane line from its text: "-> " sent, "<- " (or "<-1 ",
// "<-2 " of a numbered port) received; a line that reports a frame that could
// not be read or a failed write, and every other line (the messages of the
// automaton and the responder), is a message.
TLineKind KindOfLine(std::string_view text);

}  // namespace mkpt
