#include <array>

#include "algo/phonetic/phonetic.hpp"
#include "base/cancel.hpp"

namespace kivo::phonetic {
namespace {

// The digit of each letter; 0 for the vowels and Y, which separate equal
// digits, and '-' for H and W, which do not.
constexpr std::array<char, 26> kDigits = {
    // A    B    C    D    E    F    G    H    I    J    K    L    M
    '0', '1', '2', '3', '0', '1', '2', '-', '0', '2', '2', '4', '5',
    // N    O    P    Q    R    S    T    U    V    W    X    Y    Z
    '5', '0', '1', '2', '6', '2', '3', '0', '1', '-', '2', '0', '2'};

}  // namespace

std::string soundex(std::string_view letters) {
  if (letters.empty()) return {};
  std::string key(1, letters[0]);
  char last = kDigits[letters[0] - 'A'];
  cancel::Meter meter;
  for (std::size_t i = 1; i < letters.size() && key.size() < 4; ++i) {
    meter.add();
    char digit = kDigits[letters[i] - 'A'];
    if (digit == '-') continue;
    if (digit != '0' && digit != last) key += digit;
    last = digit;
  }
  key.resize(4, '0');
  return key;
}

}  // namespace kivo::phonetic
