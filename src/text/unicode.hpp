// The two pipeline steps that need the Unicode Character Database: NFC and
// full lowercasing. Both take and produce UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kivo::unicode {

// Long texts are normalised in pieces of about this many bytes, each ending
// at a normalisation boundary: ICU takes lengths as int32_t, and a cancelled
// batch call stops between pieces (a piece takes a few milliseconds).
inline constexpr std::size_t kNfcChunkBytes = std::size_t(1) << 20;

// The NFC form of text. chunk_bytes only exists so tests can exercise the
// piecewise path on small texts; the result does not depend on it.
std::string to_nfc(std::string_view text, std::size_t chunk_bytes = kNfcChunkBytes);

// The same NFC form, computed from ICU's per-character data with a sort for
// the reordering of combining marks, so O(n log n) on any input. to_nfc
// switches to it for texts with long runs of combining marks, where ICU's
// own reordering is quadratic; exposed for tests.
std::string to_nfc_sorting_marks(std::string_view text);

// Appends the full lowercase mapping of text to out, without language
// tailoring. Final_Sigma looks at text only: a caller that lowercases a piece
// of a larger text gets the piece's own context.
void append_lowercase(std::string& out, std::string_view text);

}  // namespace kivo::unicode
