// An Estimate's fields as text of their bytes, so that two estimates compare
// bit for bit (NaN included) and a difference shows which field and where.
#pragma once

#include <string>
#include <vector>

#include "tarvel/tarvel.h"

namespace tarvel::testing {

inline std::vector<std::string> field_bits(const Estimate& e) {
  const auto bits = [](const void* data, std::size_t size) {
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) text += std::to_string(bytes[i]) + " ";
    return text;
  };
  const auto vector = [&](const auto& v) { return bits(v.data(), v.size() * sizeof(v[0])); };
  return {vector(e.signals),
          vector(e.snr_db),
          vector(e.covariance),
          vector(e.inverse),
          vector(e.weights),
          vector(e.normalized_weights),
          std::to_string(e.reference),
          bits(&e.combined_signal, sizeof e.combined_signal),
          bits(&e.combined_snr_db, sizeof e.combined_snr_db)};
}

}  // namespace tarvel::testing
