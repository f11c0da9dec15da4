#include <unicode/uchar.h>

#include "base/cancel.hpp"
#include "text/char_class.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace kivo::unicode {
namespace {

constexpr char32_t kCapitalSigma = 0x3A3;
constexpr char32_t kCapitalIWithDot = 0x130;

bool is_cased(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_CASED);
}
bool is_case_ignorable(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_CASE_IGNORABLE);
}

// Final_Sigma for the capital sigma at [start, end): a cased character before
// it and none after it, skipping case-ignorable characters on both sides.
// Each scan stops at the first character that is not case-ignorable, and a
// sigma is such a character, so the scans of all sigmas together stay linear.
bool is_final_sigma(std::string_view text, std::size_t start, std::size_t end) {
  bool cased_before = false;
  for (std::size_t pos = start; pos > 0;) {
    pos = utf8::previous_start(text, pos);
    std::size_t p = pos;
    char32_t c = utf8::next(text, p);
    if (!is_case_ignorable(c)) {
      cased_before = is_cased(c);
      break;
    }
  }
  if (!cased_before) return false;
  for (std::size_t pos = end; pos < text.size();) {
    char32_t c = utf8::next(text, pos);
    if (!is_case_ignorable(c)) return !is_cased(c);
  }
  return true;
}

}  // namespace

// Without language tailoring, the full lowercase mapping equals the simple
// one (u_tolower) for every character except two: U+0130 becomes i followed
// by U+0307, and the capital sigma depends on Final_Sigma. Doing those two by
// hand keeps the whole text in one pass with no length limit.
void append_lowercase(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  // Characters that are their own lowercase go out in runs, one append each:
  // [kept, pos) is the run so far.
  std::size_t kept = 0;
  auto replace = [&](std::size_t start, std::size_t next, std::string_view with)
      __attribute__((always_inline)) {
    out.append(text.data() + kept, start - kept);
    out.append(with);
    kept = next;
  };
  for (std::size_t pos = 0; pos < text.size();) {
    for (std::size_t end = cancel::piece_end(pos, text.size()); pos < end;) {
      auto byte = static_cast<unsigned char>(text[pos]);
      if (byte < 0x80) {
        if (byte >= 'A' && byte <= 'Z') {
          char lower = ascii_lower(static_cast<char>(byte));
          replace(pos, pos + 1, {&lower, 1});
        }
        ++pos;
        continue;
      }
      std::size_t start = pos;
      char32_t c = utf8::next(text, pos);
      if (c == kCapitalSigma) {
        replace(start, pos, is_final_sigma(text, start, pos) ? "\u03C2" : "\u03C3");
      } else if (c == kCapitalIWithDot) {
        replace(start, pos, "i\u0307");
      } else if (auto lower = static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
                 lower != c) {
        std::string bytes;
        utf8::append(bytes, lower);
        replace(start, pos, bytes);
      }
    }
  }
  out.append(text.data() + kept, text.size() - kept);
}

}  // namespace kivo::unicode
