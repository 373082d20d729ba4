#pragma once
// The one rule by which the program changes a picture, and the kernel that
// runs it over rows of memory.

#include <cstddef>
#include <cstdint>

namespace penumbrix {

// The seven slider values, exactly as the scroll bars hold them.
struct AdjustmentSettings {
    std::int16_t vsRed, vsGreen, vsBlue, vsLIGHT, vsContrast, vsRange, vsCzoom;
};

// Cut-off threshold: vsRange * 100 * vsCzoom.
std::int32_t cutoffThreshold(const AdjustmentSettings& settings);

// Maps one colour value (0x00BBGGRR, or -1 for an unreadable point) to a new
// colour value: black below the threshold while vsContrast > 0, otherwise
// each channel shifted by its offsets and clamped to 0..255.
std::int32_t pixelTransform(std::int32_t colour, const AdjustmentSettings& settings);

// Runs pixelTransform over a grid in place. Each element holds a colour value
// in its low 24 bits; the top byte is kept. `stride` counts elements from one
// row to the next.
void transformGrid(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride,
                   const AdjustmentSettings& settings);

// The same rule from one grid into another of the same size (or into itself),
// in one pass over the memory; a large grid is shared among the cores.
void transformGridInto(const std::uint32_t* source, std::ptrdiff_t sourceStride, std::uint32_t* target,
                       std::ptrdiff_t targetStride, int width, int height, const AdjustmentSettings& settings);

} // namespace penumbrix
