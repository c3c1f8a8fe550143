// The block work of PSNR-HVS as libvmaf's psnr_hvs feature does it: for an 8x8 block of
// both frames, the contrast of each (variances in single precision, Daala's integer DCT),
// the masking threshold, and each coefficient's weighed, masked error. The plain kernel
// takes a block at a time; the AVX2 one eight neighbouring blocks, one a lane, in the same
// order of operations, so that both give the same bits.
#ifndef FRAMECMP_METRICS_PSNR_HVS_H_
#define FRAMECMP_METRICS_PSNR_HVS_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace framecmp {

using HvsTable = std::array<std::array<float, 8>, 8>;

// A plane of both frames as values, and its tables.
struct HvsPlane {
  const std::int32_t* ref;
  const std::int32_t* test;
  std::size_t pitch;     // values from one row to the next
  const HvsTable* mask;  // the masking weight of each coefficient
  const HvsTable* csf;   // the contrast sensitivity of each coefficient
};

// Blocks start every kStep samples, across and down.
inline constexpr std::int32_t kHvsStep = 7;

// Where term k (0-based, i * 8 + j) of block b of a row goes: eight blocks' terms
// interleaved, so that eight lanes store at once.
inline std::size_t hvs_term_index(const std::size_t block, const std::size_t k) {
  return (block / 8) * 512 + k * 8 + block % 8;
}

// The 64 weighed errors of each of the `count` blocks of the block row whose top is row y
// (block b's left column at b * kHvsStep) into `terms`, at hvs_term_index, and in
// nonzero[b] bit k set where term k of block b is not 0 (most are 0 in good encodes, and
// the sum that follows must go one term at a time).
// Precondition: the blocks lie in the plane; `terms` holds ceil(count / 8) * 512, and
// `nonzero` ceil(count / 8) * 8.
void hvs_block_row(const HvsPlane& plane, std::int32_t y, std::int32_t count, float* terms,
                   std::uint64_t* nonzero);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_PSNR_HVS_H_
