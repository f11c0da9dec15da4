// SimHash: a 64-bit fingerprint from the shingle list (repeats weigh), and
// the share of equal bits between two fingerprints.
#pragma once

#include <cstdint>
#include <string_view>

namespace kivo {

std::uint64_t simhash_fingerprint(std::string_view text, std::uint64_t shingle_size);
double simhash_similarity(std::string_view a, std::string_view b, std::uint64_t shingle_size);

}  // namespace kivo
