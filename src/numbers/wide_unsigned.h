// The one 128-bit unsigned integer of the number model: products of a 64-bit
// significand and a power of ten, and the extended type's wide intermediate
// results, are formed in it exactly.
#pragma once

namespace tarvel {

using WideUnsigned = unsigned __int128;

}  // namespace tarvel
