#include "app/linematch.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>

namespace mkpt {

namespace {

pcre2_code* Code(void* p) { return static_cast<pcre2_code*>(p); }
pcre2_match_data* Data(void* p) { return static_cast<pcre2_match_data*>(p); }
pcre2_match_context* Context(void* p) { return static_cast<pcre2_match_context*>(p); }

}  // namespace

TLineMatcher::TLineMatcher(const TFindQuery& query) : query_(query) {
  if (query_.Text.empty()) return;
  // In UTF mode letters beyond ASCII fold by Unicode rules; UCP gives \w and
  // \b the same reach (a plain text takes no such option).
  std::uint32_t options = PCRE2_UTF | (query_.Regex ? PCRE2_UCP : PCRE2_LITERAL);
  if (!query_.MatchCase) options |= PCRE2_CASELESS;
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(query_.Text.data()), query_.Text.size(), options,
                                   &errorCode, &errorOffset, nullptr);
  if (!code) {
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(errorCode, buffer, sizeof buffer) < 0) buffer[0] = 0;
    error_ = reinterpret_cast<const char*>(buffer);
    error_ += " (at character " + std::to_string(errorOffset + 1) + ")";
    return;
  }
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);  // a plain match when the machine has no JIT
  code_ = code;
  data_ = pcre2_match_data_create_from_pattern(code, nullptr);
  pcre2_match_context* context = pcre2_match_context_create(nullptr);
  pcre2_set_match_limit(context, WorkLimit);
  pcre2_set_depth_limit(context, WorkLimit / 10);
  context_ = context;
}

TLineMatcher::~TLineMatcher() {
  pcre2_match_context_free(Context(context_));
  pcre2_match_data_free(Data(data_));
  pcre2_code_free(Code(code_));
}

int TLineMatcher::Run(std::string_view line, std::size_t start) const {
  const int rc = pcre2_match(Code(code_), reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), start, 0,
                             Data(data_), Context(context_));
  if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT) ++givenUp_;
  return rc;
}

bool TLineMatcher::Matches(std::string_view line) const { return code_ && Run(line, 0) >= 0; }

std::vector<std::pair<std::size_t, std::size_t>> TLineMatcher::Spans(std::string_view line,
                                                                      std::size_t maxSpans) const {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  if (!code_) return spans;
  std::size_t at = 0;
  while (at <= line.size() && spans.size() < maxSpans) {
    if (Run(line, at) < 0) break;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(Data(data_));
    const std::size_t begin = ovector[0], end = ovector[1];
    if (end < begin) break;  // \K tricks: give up on the rest
    if (end > begin) spans.emplace_back(begin, end - begin);
    // Go on after the match; after an empty one, one character on (never
    // into the middle of a UTF-8 sequence).
    at = end > at ? end : at + 1;
    while (at < line.size() && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80) ++at;
  }
  return spans;
}

// ---- TMatchIndex ----------------------------------------------------------------------

void TMatchIndex::Reset(std::uint64_t firstSeq) {
  first_ = firstSeq;
  lines_ = 0;
  matches_.clear();
}

void TMatchIndex::Push(bool matches) {
  if (matches) matches_.push_back(first_ + lines_);
  ++lines_;
}

std::size_t TMatchIndex::DropFront(std::size_t n) {
  n = std::min(n, lines_);
  first_ += n;
  lines_ -= n;
  std::size_t dropped = 0;
  while (!matches_.empty() && matches_.front() < first_) {
    matches_.pop_front();
    ++dropped;
  }
  return dropped;
}

std::size_t TMatchIndex::MatchesBefore(std::size_t line) const {
  return static_cast<std::size_t>(std::lower_bound(matches_.begin(), matches_.end(), first_ + line) -
                                  matches_.begin());
}

bool TMatchIndex::LineMatches(std::size_t line) const {
  return std::binary_search(matches_.begin(), matches_.end(), first_ + line);
}

// ---- Line kinds -----------------------------------------------------------------------

TLineKind KindOfLine(std::string_view text) {
  if (text.find("Missing format") != std::string_view::npos || text.find("Transmit error!") != std::string_view::npos)
    return TLineKind::Message;
  if (text.starts_with("-> ")) return TLineKind::Sent;
  if (text.starts_with("<-")) {
    std::size_t i = 2;
    while (i < text.size() && i < 5 && text[i] >= '0' && text[i] <= '9') ++i;
    if (i < text.size() && text[i] == ' ') return TLineKind::Received;
  }
  return TLineKind::Message;
}

}  // namespace mkpt
