#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/cancel.hpp"
#include "base/error.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace kivo::unicode {
namespace {

// ICU sorts a run of combining marks by insertion; up to this many
// characters without a normalisation boundary that costs nothing.
constexpr std::size_t kLongestRunForIcu = 64;

[[noreturn]] void fail(UErrorCode code) {
  if (code == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  throw InternalFault(std::string("ICU failed: ") + u_errorName(code));
}

const icu::Normalizer2& nfc() {
  // ICU builds the instance once and is thread-safe; the local static only
  // saves the lookup on every call.
  static const icu::Normalizer2* const instance = [] {
    UErrorCode code = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(code);
    if (U_FAILURE(code)) fail(code);
    return n;
  }();
  return *instance;
}

// Whether every character is below U+0300, where each has a boundary before
// it: then no byte reaches 0xCC, the first lead byte above (continuation
// bytes stay below 0xC0). One pass the compiler vectorises.
bool below_combining_marks(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = cancel::piece_end(pos, text.size());
    unsigned char top = 0;
    for (; pos < end; ++pos) top = std::max(top, static_cast<unsigned char>(text[pos]));
    if (top >= 0xCC) return false;
  }
  return true;
}

// Whether some run of consecutive characters without a boundary before them
// is longer than ICU handles in linear time. Below U+0300 and among the CJK
// ideographs U+4E00..U+9FFF every character has one, so their lead bytes
// settle it without a lookup.
bool has_long_run(std::string_view text) {
  if (below_combining_marks(text)) return false;
  const icu::Normalizer2& n = nfc();
  std::size_t run = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    for (std::size_t end = cancel::piece_end(pos, text.size()); pos < end;) {
      auto lead = static_cast<unsigned char>(text[pos]);
      if (lead < 0xCC || (lead >= 0xE4 && lead <= 0xE9)) {
        run = 0;
        pos += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
        continue;
      }
      char32_t c = utf8::next(text, pos);
      if (n.hasBoundaryBefore(static_cast<UChar32>(c))) {
        run = 0;
      } else if (++run > kLongestRunForIcu) {
        return true;
      }
    }
  }
  return false;
}

// A position in (0, text.size()) where the text can be cut without changing
// its NFC form, as close below `wanted` as possible (above it if there is
// none below). 0 if the text has no such position at all.
std::size_t nfc_cut(std::string_view text, std::size_t wanted) {
  const icu::Normalizer2& n = nfc();
  auto boundary_at = [&](std::size_t pos) -> bool {
    std::size_t p = pos;
    if (n.hasBoundaryBefore(static_cast<UChar32>(utf8::next(text, p)))) return true;
    p = utf8::previous_start(text, pos);
    return n.hasBoundaryAfter(static_cast<UChar32>(utf8::next(text, p)));
  };
  std::size_t pos = utf8::char_start(text, wanted);
  for (std::size_t p = pos; p > 0; p = utf8::previous_start(text, p))
    if (boundary_at(p)) return p;
  for (std::size_t p = pos; p < text.size(); utf8::next(text, p))
    if (p > 0 && boundary_at(p)) return p;
  return 0;
}

std::string to_nfc_with_icu(std::string_view text, std::size_t chunk_bytes) {
  const icu::Normalizer2& n = nfc();
  std::string out;
  out.reserve(text.size());
  icu::StringByteSink<std::string> sink(&out);
  while (!text.empty()) {
    cancel::poll();
    std::size_t length = text.size();
    if (length > chunk_bytes) {
      std::size_t cut = nfc_cut(text, chunk_bytes);
      if (cut != 0) length = cut;
    }
    if (length > static_cast<std::size_t>(INT32_MAX))
      throw std::length_error("text has a run of over 2 GiB without a normalisation boundary");
    UErrorCode code = U_ZERO_ERROR;
    n.normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<int32_t>(length)), sink, nullptr,
                    code);
    if (U_FAILURE(code)) fail(code);
    text.remove_prefix(length);
  }
  return out;
}

struct Mark {
  char32_t c;
  std::uint8_t combining_class;
};

// Full canonical decomposition, each character with its combining class.
std::vector<Mark> decompose(std::string_view text) {
  const icu::Normalizer2& n = nfc();
  std::vector<Mark> chars;
  chars.reserve(utf8::count_chars(text));
  icu::UnicodeString mapping;
  auto add = [&](UChar32 c) { chars.push_back({char32_t(c), n.getCombiningClass(c)}); };
  cancel::Meter meter;
  for (std::size_t pos = 0; pos < text.size();) {
    meter.add();
    auto c = static_cast<UChar32>(utf8::next(text, pos));
    if (c < 0xC0 || !n.getDecomposition(c, mapping)) {  // nothing below U+00C0 decomposes
      add(c);
      continue;
    }
    for (int32_t i = 0; i < mapping.length(); i += U16_LENGTH(mapping.char32At(i)))
      add(mapping.char32At(i));
  }
  return chars;
}

}  // namespace

std::string to_nfc_sorting_marks(std::string_view text) {
  std::vector<Mark> chars = decompose(text);

  // Canonical ordering: each run of non-starters sorted stably by class.
  auto is_starter = [](const Mark& m) { return m.combining_class == 0; };
  for (auto it = chars.begin(); it != chars.end();) {
    auto run_begin = std::find_if_not(it, chars.end(), is_starter);
    auto run_end = std::find_if(run_begin, chars.end(), is_starter);
    std::stable_sort(run_begin, run_end, [](const Mark& a, const Mark& b) {
      return a.combining_class < b.combining_class;
    });
    it = run_end;
  }

  // Canonical composition: a character joins the last starter unless a
  // character between them has a class of 0 or at least its own.
  const icu::Normalizer2& n = nfc();
  std::size_t kept = 0;
  std::size_t starter = 0;
  bool have_starter = false;
  int last_class = 0;  // class of the last kept character
  for (const Mark& m : chars) {
    // Adjacent to the starter, or every mark between has a lower class.
    if (have_starter && (last_class == 0 || last_class < m.combining_class)) {
      UChar32 composite =
          n.composePair(static_cast<UChar32>(chars[starter].c), static_cast<UChar32>(m.c));
      if (composite >= 0) {
        chars[starter].c = char32_t(composite);
        continue;
      }
    }
    if (m.combining_class == 0) {
      starter = kept;
      have_starter = true;
    }
    last_class = m.combining_class;
    chars[kept++] = m;
  }

  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < kept; ++i) utf8::append(out, chars[i].c);
  return out;
}

std::string to_nfc(std::string_view text, std::size_t chunk_bytes) {
  if (has_long_run(text)) return to_nfc_sorting_marks(text);
  return to_nfc_with_icu(text, chunk_bytes);
}

}  // namespace kivo::unicode
