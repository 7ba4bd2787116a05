#include "text/textcut.h"

#include <algorithm>

namespace mkp {

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

// An empty marker never occurs.
std::size_t FindMarker(std::string_view text, std::string_view marker, std::size_t from = 0) {
  if (marker.empty() || from > text.size()) return std::string_view::npos;
  return text.find(marker, from);
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         std::string_view(text).substr(text.size() - tail.size()) == tail;
}

}  // namespace

// ---- Cutting and searching text ------------------------------------------------

std::string Trim(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && IsBlankOrControl(text[b])) ++b;
  while (e > b && IsBlankOrControl(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string TrimLeft(std::string_view text) {
  std::size_t b = 0;
  while (b < text.size() && IsBlankOrControl(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  std::size_t e = text.size();
  while (e > 0 && IsBlankOrControl(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

void RemoveAll(std::string& text, std::string_view marker) {
  if (marker.empty() || text.find(marker) == std::string::npos) return;
  // One pass: a marker completed at the end of what is kept is dropped at
  // once, which is exactly what deleting the leftmost occurrence again and
  // again leaves behind.
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == marker.back() && EndsWith(out, marker)) out.resize(out.size() - marker.size());
  }
  text = std::move(out);
}

void ReplaceAll(std::string& text, std::string_view old, std::string_view replacement) {
  if (old.empty() || old == replacement) return;
  if (text.find(old) == std::string::npos) return;
  if (replacement.find(old) != std::string_view::npos) {
    // Repeating would never end: replace each original occurrence once.
    std::string out;
    std::size_t pos = 0;
    for (std::size_t hit = text.find(old); hit != std::string::npos;
         hit = text.find(old, pos)) {
      out.append(text, pos, hit - pos);
      out.append(replacement);
      pos = hit + old.size();
    }
    out.append(text, pos, std::string::npos);
    text = std::move(out);
    return;
  }
  // Leftmost first until none is left. The kept text never holds an
  // occurrence; the replacement is fed back in front of the rest, so an
  // occurrence it forms with its neighbours is found next, as a restart from
  // the beginning would find it. A rewrite that keeps growing stops after a
  // bounded amount of work instead of running forever.
  const std::size_t workLimit = (text.size() + 1) * 64 + 1'000'000;
  std::size_t work = 0;
  std::string out;
  out.reserve(text.size());
  std::string pending;  // characters to read before text[i], last one first
  std::size_t i = 0;
  while (!pending.empty() || i < text.size()) {
    char c = 0;
    if (!pending.empty()) {
      c = pending.back();
      pending.pop_back();
    } else {
      c = text[i++];
    }
    out.push_back(c);
    if (c == old.back() && EndsWith(out, old)) {
      out.resize(out.size() - old.size());
      work += replacement.size() + 1;
      if (work > workLimit) {
        out.append(replacement);
        break;
      }
      pending.append(replacement.rbegin(), replacement.rend());
    }
  }
  out.append(pending.rbegin(), pending.rend());
  if (i < text.size()) out.append(text, i, std::string::npos);
  text = std::move(out);
}

void SqueezeBlanks(std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  text = std::move(out);
}

void RemoveSpans(std::string& text, std::string_view opening, std::string_view closing) {
  if (opening.empty() || closing.empty() || text.find(opening) == std::string::npos) return;
  // Each step deletes from the first opening marker through the end of the
  // first closing marker that ends after the opening one begins (in "A(*)B"
  // the "*)" overlaps the "(*", and "(*)" goes). The text is rebuilt in one
  // pass: kept holds the text before the last deletion point, which never
  // contains a whole opening marker, and rest is what is still to be seen.
  // A marker can only straddle the two within a few characters of the join.
  const std::string_view source = text;
  std::string kept;
  kept.reserve(text.size());
  std::size_t rest = 0;  // start of the unseen part of source
  auto size = [&] { return kept.size() + (source.size() - rest); };
  auto at = [&](std::size_t k) { return k < kept.size() ? kept[k] : source[rest + k - kept.size()]; };
  auto find = [&](std::string_view marker, std::size_t from) -> std::size_t {
    for (std::size_t k = from; k < kept.size(); ++k) {  // a few positions at most
      if (k + marker.size() > size()) return std::string::npos;
      std::size_t j = 0;
      while (j < marker.size() && at(k + j) == marker[j]) ++j;
      if (j == marker.size()) return k;
    }
    const std::size_t first = std::max(from, kept.size());
    const std::size_t found = source.find(marker, rest + (first - kept.size()));
    return found == std::string_view::npos ? std::string::npos : found - rest + kept.size();
  };
  for (;;) {
    const std::size_t open = find(opening, kept.size() >= opening.size() ? kept.size() - opening.size() + 1 : 0);
    if (open == std::string::npos) break;
    const std::size_t close = find(closing, open >= closing.size() ? open - closing.size() + 1 : 0);
    if (close == std::string::npos) break;
    const std::size_t end = close + closing.size();  // past the deleted span, > open
    const std::size_t keptSize = kept.size();
    if (end <= keptSize) {
      kept.erase(open, end - open);
    } else {
      if (open >= keptSize)
        kept.append(source.substr(rest, open - keptSize));
      else
        kept.resize(open);
      rest += end - keptSize;
    }
  }
  kept.append(source.substr(rest));
  text = std::move(kept);
}

void CutLineComment(std::string& text) {
  const std::size_t pos = text.find("//");
  if (pos != std::string::npos) text.erase(pos);
}

std::string FirstTwoChars(std::string_view text) { return std::string(text.substr(0, 2)); }

bool DropTwoChars(std::string& text) {
  const bool hadTwo = text.size() >= 2;
  text.erase(0, 2);
  text = TrimLeft(text);
  return hadTwo;
}

std::string FirstWord(std::string_view text) {
  const std::string t = TrimLeft(text);
  const std::size_t blank = t.find(' ');
  return blank == std::string::npos ? t : t.substr(0, blank);
}

bool DropFirstWord(std::string& text) {
  text = TrimLeft(text);
  if (text.empty()) return false;
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos) {
    text.clear();
  } else {
    text = TrimLeft(std::string_view(text).substr(blank + 1));
  }
  return true;
}

std::string TextBefore(std::string_view text, std::string_view separator) {
  const std::size_t pos = FindMarker(text, separator);
  return std::string(pos == std::string_view::npos ? text : text.substr(0, pos));
}

bool DropThrough(std::string& text, std::string_view separator) {
  const std::size_t pos = FindMarker(text, separator);
  if (pos == std::string::npos) {
    text.clear();
    return false;
  }
  text.erase(0, pos + separator.size());
  return true;
}

void SplitAtFirst(std::string_view text, std::string_view separator, std::string& left,
                  std::string& right) {
  const std::size_t pos = FindMarker(text, separator);
  if (pos == std::string_view::npos) {
    left.clear();
    right.clear();
    return;
  }
  left = std::string(text.substr(0, pos));
  right = std::string(text.substr(pos + separator.size()));
}

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end) {
  const std::size_t s = FindMarker(text, start);
  if (s != std::string_view::npos) text.remove_prefix(s + start.size());
  const std::size_t e = FindMarker(text, end);
  if (e != std::string_view::npos) text = text.substr(0, e);
  return std::string(text);
}

bool HasTextBetween(std::string_view text, std::string_view start, std::string_view end) {
  const std::size_t s = FindMarker(text, start);
  if (s == std::string_view::npos) return false;
  return FindMarker(text, end, s + start.size()) != std::string_view::npos;
}

std::string PadToWidth(std::string_view text, std::string_view fill, std::size_t width) {
  std::string out(text);
  if (fill.empty()) return out;
  while (out.size() < width) out.append(fill);
  return out;
}

std::string PadShortLeft(std::string_view text, std::string_view fill, std::size_t width) {
  constexpr std::size_t kShortMax = 255;
  std::string out(text);
  if (fill.empty()) return out;
  const std::size_t target = std::min(width, kShortMax);
  std::string prefix;
  while (out.size() + prefix.size() < target) prefix.append(fill);
  return prefix + out;
}

}  // namespace mkp
