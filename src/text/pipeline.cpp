#include "text/pipeline.hpp"

#include <cstring>

#include "base/cancel.hpp"
#include "text/char_class.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace kivo {
namespace {

// Steps 1 and 2. Always returns an owned copy, so the later steps can work in
// place: none of them makes the text longer.
std::string normalize_and_lowercase(std::string_view text, const PreprocessConfig& config) {
  if (!config.normalize_unicode && !config.lowercase) return std::string(text);
  if (utf8::is_ascii(text)) {
    // NFC leaves ASCII unchanged and ASCII lowercases by table: ICU is only
    // needed once a non-ASCII byte appears (even an ASCII letter can change
    // under NFC when a combining mark follows it).
    std::string out(text);
    if (config.lowercase) lowercase_ascii_in_place(out);
    return out;
  }
  if (!config.lowercase) return unicode::to_nfc(text);
  std::string lowered;
  if (config.normalize_unicode) {
    unicode::append_lowercase(lowered, unicode::to_nfc(text));
  } else {
    unicode::append_lowercase(lowered, text);
  }
  return lowered;
}

// Step 3: every maximal whitespace run becomes one space, also at the ends.
void collapse_whitespace(std::string& text) {
  std::string_view read_view = text;
  char* dst = text.data();  // see clean_ascii
  std::size_t write = 0;
  for (std::size_t read = 0; read < read_view.size();) {
    for (std::size_t end = cancel::piece_end(read, read_view.size()); read < end;) {
      std::size_t width = whitespace_length(read_view, read);
      if (width == 0) {
        dst[write++] = read_view[read++];
        continue;
      }
      dst[write++] = ' ';
      read += width;
      while (read < read_view.size() && (width = whitespace_length(read_view, read)) != 0) {
        read += width;
      }
    }
  }
  text.resize(write);
}

// Step 4: strip whitespace at both ends.
void trim_whitespace(std::string& text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t width = whitespace_length(text, begin);
    if (width == 0) break;
    begin += width;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = utf8::previous_start(text, end);
    if (whitespace_length(text, start) == 0) break;
    end = start;
  }
  text.erase(end);
  text.erase(0, begin);
}

// Step 5: keep the whitespace-separated tokens that are not stopwords, joined
// by single spaces. Written in place: each kept token moves left, and the
// space before it fits into the whitespace that preceded it. Tokens are never
// empty, so an empty entry of a custom list never matches.
void remove_stopwords(std::string& text, const StopwordList& custom) {
  const StopwordList& stopwords = custom.empty() ? default_stopwords() : custom;
  std::size_t write = 0;
  for (std::size_t read = 0; read < text.size();) {
    for (std::size_t end = cancel::piece_end(read, text.size()); read < end;) {
      if (std::size_t width = whitespace_length(text, read); width != 0) {
        read += width;
        continue;
      }
      std::size_t start = read;
      while (read < text.size() && whitespace_length(text, read) == 0) ++read;
      if (stopwords.contains(std::string_view(text).substr(start, read - start))) continue;
      if (write > 0) text[write++] = ' ';
      std::memmove(text.data() + write, text.data() + start, read - start);
      write += read - start;
    }
  }
  text.resize(write);
}

// Step 6: at most max_length bytes; a cut inside a character moves back to
// that character's start so the result stays valid UTF-8.
void bound_length(std::string& text, std::uint64_t max_length) {
  if (max_length == 0 || text.size() <= max_length) return;
  // max_length is below text.size(), so it fits a size_t.
  text.resize(utf8::char_start(text, static_cast<std::size_t>(max_length)));
}

// Steps 1 to 4 in one pass for an ASCII text when whitespace is both
// collapsed and trimmed: NFC leaves ASCII unchanged, lowercasing is a table,
// and a whitespace run becomes one space only when a word follows it.
std::string clean_ascii(std::string_view text, bool lowercase) {
  std::string out(text.size(), '\0');
  // Written through a pointer: a store into the string's own characters may
  // alias the string object, which would make some libraries look up its
  // buffer again for every character.
  char* dst = out.data();
  std::size_t write = 0;
  bool space_pending = false;
  for (std::size_t i = 0; i < text.size();) {
    for (std::size_t end = cancel::piece_end(i, text.size()); i < end; ++i) {
      char c = text[i];
      if (c == ' ' || (c >= '\t' && c <= '\r')) {
        space_pending = write > 0;
        continue;
      }
      if (space_pending) {
        dst[write++] = ' ';
        space_pending = false;
      }
      dst[write++] = lowercase ? ascii_lower(c) : c;
    }
  }
  out.resize(write);
  return out;
}

}  // namespace

std::string preprocess_text(std::string_view text, const PreprocessConfig& config) {
  if (!config.remove_stopwords && config.collapse_whitespace && config.trim &&
      utf8::is_ascii(text)) {
    std::string out = clean_ascii(text, config.lowercase);
    bound_length(out, config.max_length);
    return out;
  }
  std::string out = normalize_and_lowercase(text, config);
  if (config.remove_stopwords) {
    // Collapsing and trimming only change whitespace, which this step drops
    // anyway, so they would not change its result.
    remove_stopwords(out, config.stopwords);
  } else {
    if (config.collapse_whitespace) collapse_whitespace(out);
    if (config.trim) trim_whitespace(out);
  }
  bound_length(out, config.max_length);
  return out;
}

std::string clean_text(std::string_view text) {
  static const PreprocessConfig config;
  return preprocess_text(text, config);
}

std::string clean_text_stopwords(std::string_view text) {
  static const PreprocessConfig config = [] {
    PreprocessConfig c;
    c.remove_stopwords = true;
    return c;
  }();
  return preprocess_text(text, config);
}

}  // namespace kivo
