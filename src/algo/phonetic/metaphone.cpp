#include "algo/phonetic/phonetic.hpp"
#include "base/cancel.hpp"

namespace kivo::phonetic {
namespace {

bool vowel(char c) {
  return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
}

bool front_vowel(char c) {
  return c == 'E' || c == 'I' || c == 'Y';
}

// The letters less a silent first one.
std::string_view without_silent_initial(std::string_view s) {
  std::string_view two = s.substr(0, 2);
  bool silent = two == "AE" || two == "GN" || two == "KN" || two == "PN" || two == "WR";
  return silent ? s.substr(1) : s;
}

}  // namespace

void metaphone(std::string_view letters, std::string& key) {
  std::string_view s = without_silent_initial(letters);
  std::size_t start = 0;
  if (s.substr(0, 2) == "WH") {  // always W, whatever follows
    key += 'W';
    start = 2;
  }
  auto at = [&](std::size_t i) { return i < s.size() ? s[i] : '\0'; };
  cancel::Meter meter;
  for (std::size_t i = start; i < s.size(); ++i) {
    meter.add();
    char c = s[i];
    char prev = i > 0 ? s[i - 1] : '\0';
    char next = at(i + 1);
    if (c == next && c != 'C') continue;  // a doubled letter is read once, as its second
    if (i == 0 && c == 'X') c = 'S';      // read as S, though its neighbours still see X
    switch (c) {
      case 'A':
      case 'E':
      case 'I':
      case 'O':
      case 'U':
        if (i == 0) key += c;
        break;
      case 'B':
        if (!(prev == 'M' && i + 1 == s.size())) key += 'B';
        break;
      case 'C':
        if (next == 'I' && at(i + 2) == 'A') {
          key += 'X';
        } else if (next == 'H') {
          key += 'X';
        } else if (front_vowel(next)) {
          key += 'S';
          ++i;
        } else {
          key += 'K';
        }
        break;
      case 'D':
        if (next == 'G' && front_vowel(at(i + 2))) {
          key += 'J';
          i += 2;
        } else {
          key += 'T';
        }
        break;
      case 'G':
        if (next == 'H' && !vowel(at(i + 2))) {
          ++i;  // a silent "gh"
          break;
        }
        if (next == 'N' && i + 2 == s.size()) {
          ++i;  // a silent final "gn"
          break;
        }
        key += front_vowel(next) ? 'J' : 'K';
        break;
      case 'H':
        if (vowel(prev) && !vowel(next)) break;
        if (prev == 'C' || prev == 'S' || prev == 'P' || prev == 'T') break;
        key += 'H';
        break;
      case 'K':
        if (prev != 'C') key += 'K';
        break;
      case 'P': key += next == 'H' ? 'F' : 'P'; break;
      case 'Q': key += 'K'; break;
      case 'S':
        if (next == 'H') {
          key += 'X';
        } else if (next == 'I' && (at(i + 2) == 'O' || at(i + 2) == 'A')) {
          key += 'X';
        } else {
          key += 'S';
        }
        break;
      case 'T':
        if (next == 'I' && (at(i + 2) == 'O' || at(i + 2) == 'A')) {
          key += 'X';
        } else if (next == 'H') {
          key += '0';
        } else if (!(next == 'C' && at(i + 2) == 'H')) {
          key += 'T';
        }
        break;
      case 'V': key += 'F'; break;
      case 'W':
      case 'Y':
        if (vowel(next)) key += c;
        break;
      case 'X': key += "KS"; break;
      case 'Z': key += 'S'; break;
      default:  // F, J, L, M, N, R
        key += c;
    }
  }
}

}  // namespace kivo::phonetic
