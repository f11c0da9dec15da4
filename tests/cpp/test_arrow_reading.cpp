// The pieces that read Arrow columns: UTF-8 validation against a model that
// re-encodes each decoded character, and nulls spread back to their places.
#include <cmath>
#include <string>
#include <vector>

#include "batch/nulls.hpp"
#include "harness.hpp"
#include "text/utf8.hpp"
#include "text/utf8_check.hpp"

using namespace kivo;

namespace {

// The length of the well-formed character at s[pos], or 0: the lead byte's
// pattern gives a length and a value, valid when it is a scalar value whose
// own encoding is exactly these bytes (no overlong form).
std::size_t model_length(const std::string& s, std::size_t pos) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[pos + k]); };
  unsigned char lead = byte(0);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || pos + length > s.size()) return 0;
  char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(k) & 0x3F);
  }
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
  std::string again;
  utf8::append(again, cp);
  return again == s.substr(pos, length) ? length : 0;
}

std::size_t model_prefix(const std::string& s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    std::size_t length = model_length(s, pos);
    if (length == 0) return pos;
    pos += length;
  }
  return pos;
}

}  // namespace

TEST(utf8_validation_matches_the_model_on_every_short_sequence) {
  const std::string ascii(70, 'a');  // past the ASCII blocks
  for (unsigned lead = 0x80; lead < 0x100; ++lead) {
    for (unsigned second = 0; second < 0x100; ++second) {
      for (unsigned third : {0x00u, 0x7Fu, 0x80u, 0x9Fu, 0xA0u, 0xBFu, 0xC0u}) {
        for (unsigned fourth : {0x41u, 0x80u, 0x8Fu, 0x90u, 0xBFu}) {
          std::string s{char(lead), char(second), char(third), char(fourth)};
          for (std::size_t n = 1; n <= 4; ++n) {
            CHECK_EQ(utf8::valid_prefix(s.substr(0, n)), model_prefix(s.substr(0, n)));
            CHECK_EQ(utf8::valid_prefix(ascii + s.substr(0, n)),
                     ascii.size() + model_prefix(s.substr(0, n)));
          }
        }
      }
    }
  }
}

TEST(utf8_validation_finds_a_bad_byte_anywhere_in_a_long_text) {
  std::string text;
  for (int k = 0; k < 60; ++k) text += k % 7 == 0 ? "é日" : "abc";
  CHECK_EQ(utf8::valid_prefix(text), text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string bad = text;
    bad[at] = char(0xFF);
    CHECK_EQ(utf8::valid_prefix(bad), utf8::char_start(text, at));
  }
}

TEST(skipped_nulls_are_spread_back_to_their_places) {
  // A 2 x 2 result of rows {0, 2} and columns {1, 2} of a 3 x 3 problem.
  std::vector<batch::SourceText> rows(3), columns(3);
  batch::Kept kept_rows = batch::Kept::drop(rows, {1});
  batch::Kept kept_columns = batch::Kept::drop(columns, {0, 0});
  CHECK_EQ(rows.size(), std::size_t(2));
  CHECK_EQ(kept_columns[0], std::size_t(1));
  std::vector<double> out{1, 2, 3, 4, -9, -9, -9, -9, -9};
  batch::spread_matrix({out.data(), batch::Element::F64}, kept_rows, kept_columns);
  std::vector<double> want{NAN, 1, 2, NAN, NAN, NAN, NAN, 3, 4};
  for (std::size_t k = 0; k < out.size(); ++k) {
    CHECK(out[k] == want[k] || (std::isnan(out[k]) && std::isnan(want[k])));
  }
  std::vector<std::int64_t> indices{1, -1, 0, 1, 7, 7};
  std::vector<std::int64_t> scores{5, -1, 3, 4, 7, 7};
  batch::spread_rows(indices.data(), {scores.data(), batch::Element::I64}, 2, kept_rows,
                     kept_columns);
  CHECK(indices == (std::vector<std::int64_t>{2, -1, -1, -1, 1, 2}));
  CHECK(scores == (std::vector<std::int64_t>{5, -1, -1, -1, 3, 4}));
}
