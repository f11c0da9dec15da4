#include "text/tokenizer.hpp"

#include "base/cancel.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace kivo {
namespace {

std::string lowercase_term(std::string_view piece, bool ascii) {
  if (!ascii) {
    std::string term;
    unicode::append_lowercase(term, piece);
    return term;
  }
  std::string term(piece);
  lowercase_ascii_in_place(term);
  return term;
}

}  // namespace

std::vector<std::string> tokenize_terms(std::string_view text) {
  std::vector<std::string> terms;
  std::size_t start = 0;
  bool ascii = true;  // whether the current piece is all ASCII so far
  auto end_piece = [&](std::size_t end, std::size_t next_start) {
    if (end > start) terms.push_back(lowercase_term(text.substr(start, end - start), ascii));
    start = next_start;
    ascii = true;
  };
  for (std::size_t pos = 0; pos < text.size();) {
    for (std::size_t end = cancel::piece_end(pos, text.size()); pos < end;) {
      unsigned char byte = static_cast<unsigned char>(text[pos]);
      if (byte < 0x80) {
        if (kAsciiTermSeparator[byte]) end_piece(pos, pos + 1);
        ++pos;
      } else if (std::size_t width = whitespace_length(text, pos); width != 0) {
        end_piece(pos, pos + width);
        pos += width;
      } else {
        ascii = false;
        utf8::next(text, pos);
      }
    }
  }
  end_piece(text.size(), text.size());
  return terms;
}

}  // namespace kivo
