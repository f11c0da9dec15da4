#include "algo/lanes/lcs_lanes.hpp"

namespace kivo::lanes {

LcsBlock::LcsBlock(std::span<const std::u32string_view> patterns, Isa isa, std::size_t alphabet)
    : patterns_(patterns, isa, alphabet),
      entry_(kernels_for(isa).lcs[width_index(patterns_.shape)]) {}

LcsCall LcsBlock::call(std::u32string_view text, const std::uint32_t* needs,
                       std::uint32_t* out) const {
  const LanePatterns& p = patterns_;
  return {&p.masks, &p.lengths, &p.length_masks, p.count, text.data(), text.size(), needs, out};
}

void LcsBlock::lengths(std::u32string_view text, std::uint32_t* out) const {
  entry_(call(text, nullptr, out));
}

void LcsBlock::lengths(std::u32string_view text, std::u32string_view text2, std::uint32_t* out,
                       std::uint32_t* out2) const {
  LcsCall c = call(text, nullptr, out);
  c.more = MoreTexts::second(text2, out2);
  entry_(c);
}

void LcsBlock::lengths(std::span<const std::u32string_view> texts, std::uint32_t* out) const {
  if (texts.empty()) return;  // else the kernel would take the null list for one empty text
  LcsCall c = call({}, nullptr, out);
  c.more = MoreTexts::list(texts);
  entry_(c);
}

std::uint64_t LcsBlock::lengths(std::u32string_view text, const std::uint32_t* needs,
                                std::uint32_t* out) const {
  return entry_(call(text, needs, out));
}

}  // namespace kivo::lanes
