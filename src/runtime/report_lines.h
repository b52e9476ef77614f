// The report line of each guarded step of the run: the line an abort report
// names when that step fails ("at line N of tarvel()"). The tool prints
// them, so they live here once, for the code that aborts and the tests that
// expect the abort.
#pragma once

namespace tarvel {

// The first pass over the input file.
inline constexpr int kFirstOpenLine = 19;
inline constexpr int kFirstCloseLine = 26;

// The allocation of the sample table (and its refusal of S or K = 0).
inline constexpr int kSampleTableLine = 40;

// The second pass over the input file.
inline constexpr int kSecondOpenLine = 41;
inline constexpr int kSecondCloseLine = 51;

// The allocations of the estimate's arrays.
inline constexpr int kStatisticsLine = 65;
inline constexpr int kSnrLine = 102;
inline constexpr int kInverseAndWeightsLine = 124;
inline constexpr int kCombinedSignalLine = 178;

// The output file.
inline constexpr int kOpenOutputLine = 214;
inline constexpr int kCloseOutputLine = 219;

}  // namespace tarvel
