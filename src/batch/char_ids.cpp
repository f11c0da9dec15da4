#include "batch/char_ids.hpp"

#include "base/cancel.hpp"

namespace kivo::batch {

namespace {

constexpr char32_t kAscii = 128;
constexpr std::size_t kCodePoints = 0x110000;

bool all_ascii(const Texts& texts) {
  cancel::Meter meter;
  for (std::size_t j = 0; j < texts.size(); ++j) {
    std::u32string_view text = texts.chars(j);
    meter.add(text.size());
    char32_t any = 0;
    for (char32_t c : text) any |= c;
    if (any >= kAscii) return false;
  }
  return true;
}

}  // namespace

CharIds::CharIds(const Texts& choices, bool wanted) {
  if (!wanted || all_ascii(choices)) return;
  id_of_.assign(kCodePoints, 0);
  char32_t next = kAscii;
  std::size_t total = 0;
  for (std::size_t j = 0; j < choices.size(); ++j) total += choices.length(j);
  ids_.reserve(total);
  offsets_.reserve(choices.size() + 1);
  offsets_.push_back(0);
  cancel::Meter meter;
  for (std::size_t j = 0; j < choices.size(); ++j) {
    std::u32string_view text = choices.chars(j);
    meter.add(text.size());
    for (char32_t c : text) {
      if (c >= kAscii && id_of_[c] == 0) id_of_[c] = next++;
      ids_.push_back(c < kAscii ? c : id_of_[c]);
    }
    offsets_.push_back(ids_.size());
  }
  alphabet_ = std::size_t(next) + 1;  // the last for characters of no choice
}

std::u32string_view CharIds::number(std::u32string_view text, std::u32string& out) const {
  out.resize(text.size());
  char32_t elsewhere = char32_t(alphabet_ - 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    out[i] = c < kAscii ? c : id_of_[c] != 0 ? id_of_[c] : elsewhere;
  }
  return out;
}

}  // namespace kivo::batch
