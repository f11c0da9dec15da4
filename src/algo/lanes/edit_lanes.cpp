#include "algo/lanes/edit_lanes.hpp"

namespace kivo::lanes {

EditLanes::EditLanes(std::span<const std::u32string_view> patterns, Isa isa, std::size_t alphabet,
                     LevenshteinEntry const (LaneKernels::*kernel)[4])
    : patterns_(patterns, isa, alphabet),
      entry_((kernels_for(isa).*kernel)[width_index(patterns_.shape)]) {}

LevenshteinCall EditLanes::call(std::u32string_view text, std::uint32_t bound,
                                const std::uint32_t* bounds, std::uint32_t* out) const {
  const LanePatterns& p = patterns_;
  return {&p.masks,
          &p.lengths,
          &p.length_masks,
          &p.unused,
          p.count,
          text.data(),
          text.size(),
          bounds != nullptr || bound != kNoBound,
          bound,
          bounds,
          out};
}

void EditLanes::distances(std::u32string_view text, std::uint32_t* out) const {
  entry_(call(text, kNoBound, nullptr, out));
}

void EditLanes::distances(std::u32string_view text, std::u32string_view text2, std::uint32_t* out,
                          std::uint32_t* out2) const {
  LevenshteinCall c = call(text, kNoBound, nullptr, out);
  c.more = MoreTexts::second(text2, out2);
  entry_(c);
}

void EditLanes::distances(std::span<const std::u32string_view> texts, std::uint32_t* out) const {
  if (texts.empty()) return;  // else the kernel would take the null list for one empty text
  LevenshteinCall c = call({}, kNoBound, nullptr, out);
  c.more = MoreTexts::list(texts);
  entry_(c);
}

std::uint64_t EditLanes::distances(std::u32string_view text, std::uint32_t bound,
                                   std::uint32_t* out) const {
  return entry_(call(text, bound, nullptr, out));
}

std::uint64_t EditLanes::distances(std::u32string_view text, const std::uint32_t* bounds,
                                   std::uint32_t* out) const {
  return entry_(call(text, kNoBound, bounds, out));
}

}  // namespace kivo::lanes
