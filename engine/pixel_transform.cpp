#include "engine/pixel_transform.h"

#include "engine/parallel.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace penumbrix {

std::int32_t cutoffThreshold(const AdjustmentSettings& s)
{
    return (std::int32_t(s.vsRange) * 100) * std::int32_t(s.vsCzoom);
}

std::int32_t pixelTransform(std::int32_t v, const AdjustmentSettings& s)
{
    const std::int32_t light = s.vsLIGHT;
    const std::int32_t contrast = s.vsContrast;
    if (v < cutoffThreshold(s) && contrast > 0)
        return 0;

    // C++ division truncates toward zero and the remainder takes the sign of
    // the dividend, which is what -1 relies on (r = -1, g = 0, b = 0).
    const std::int32_t r = v % 256;
    const std::int32_t q = v / 256;
    const std::int32_t g = q % 256;
    const std::int32_t b = q / 256;

    auto clamp = [](std::int32_t c) { return std::clamp<std::int32_t>(c, 0, 255); };
    const std::int32_t red = (std::int32_t(s.vsRed) - 128) + r + (light - 128) + (contrast - 128);
    const std::int32_t green = (std::int32_t(s.vsGreen) - 128) + g + (light - 128) + (contrast - 128);
    const std::int32_t blue = (std::int32_t(s.vsBlue) - 128) + b + (light - 128) + (contrast - 128);
    return clamp(red) + clamp(green) * 256 + clamp(blue) * 65536;
}

namespace {

// For colour values 0..0xFFFFFF the rule is, per channel, a saturating add of
// the channel's offset (or a saturating subtract of its magnitude), and a mask
// to black below the threshold. Offsets past +-255 saturate the same way.
struct GridRule {
    std::uint32_t add = 0;   // per-byte amounts to add, top byte 0
    std::uint32_t sub = 0;   // per-byte amounts to subtract, top byte 0
    std::int32_t threshold = 0;
    bool cuts = false;

    explicit GridRule(const AdjustmentSettings& s)
    {
        const std::int32_t common = (std::int32_t(s.vsLIGHT) - 128) + (std::int32_t(s.vsContrast) - 128);
        const std::int32_t offsets[3] = {std::int32_t(s.vsRed) - 128 + common,
                                         std::int32_t(s.vsGreen) - 128 + common,
                                         std::int32_t(s.vsBlue) - 128 + common};
        for (int c = 0; c < 3; ++c) {
            const std::int32_t o = std::clamp<std::int32_t>(offsets[c], -255, 255);
            if (o > 0)
                add |= std::uint32_t(o) << (8 * c);
            else
                sub |= std::uint32_t(-o) << (8 * c);
        }
        threshold = cutoffThreshold(s);
        // Colour values are never negative here, so a threshold of 0 cuts nothing.
        cuts = s.vsContrast > 0 && threshold > 0;
    }

    std::uint32_t apply(std::uint32_t p) const
    {
        const std::uint32_t colour = p & 0xFFFFFFu;
        if (cuts && std::int32_t(colour) < threshold)
            return p & 0xFF000000u;
        std::uint32_t out = p & 0xFF000000u;
        for (int c = 0; c < 3; ++c) {
            const int shift = 8 * c;
            int v = int((p >> shift) & 0xFF) + int((add >> shift) & 0xFF) - int((sub >> shift) & 0xFF);
            out |= std::uint32_t(std::clamp(v, 0, 255)) << shift;
        }
        return out;
    }
};

#if defined(__SSE2__)
// Stores four pixels; a streaming store bypasses the cache, for a target that
// is not read again soon (a new image as large as the picture).
template <bool Stream>
inline void store4(std::uint32_t* out, __m128i v)
{
    if constexpr (Stream)
        _mm_stream_si128(reinterpret_cast<__m128i*>(out), v);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}
#endif

template <bool Stream>
void transformRow(const std::uint32_t* in, std::uint32_t* out, int width, const GridRule& rule)
{
    int x = 0;
#if defined(__SSE2__)
    if constexpr (Stream) {
        // Single pixels up to a 16-byte boundary of the target.
        for (; x < width && (reinterpret_cast<std::uintptr_t>(out + x) & 15) != 0; ++x)
            out[x] = rule.apply(in[x]);
    }
    const __m128i add = _mm_set1_epi32(std::int32_t(rule.add));
    const __m128i sub = _mm_set1_epi32(std::int32_t(rule.sub));
    const __m128i colourMask = _mm_set1_epi32(0x00FFFFFF);
    const __m128i topMask = _mm_set1_epi32(std::int32_t(0xFF000000u));
    const __m128i threshold = _mm_set1_epi32(rule.threshold);
    if (rule.cuts) {
        for (; x + 4 <= width; x += 4) {
            __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
            __m128i shifted = _mm_subs_epu8(_mm_adds_epu8(p, add), sub);
            __m128i below = _mm_cmplt_epi32(_mm_and_si128(p, colourMask), threshold);
            // Below the threshold: keep only the top byte.
            store4<Stream>(out + x, _mm_or_si128(_mm_andnot_si128(below, shifted),
                                                 _mm_and_si128(below, _mm_and_si128(p, topMask))));
        }
    } else {
        for (; x + 4 <= width; x += 4) {
            __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
            store4<Stream>(out + x, _mm_subs_epu8(_mm_adds_epu8(p, add), sub));
        }
    }
#endif
    for (; x < width; ++x)
        out[x] = rule.apply(in[x]);
}

} // namespace

void transformGrid(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride,
                   const AdjustmentSettings& settings)
{
    transformGridInto(pixels, stride, pixels, stride, width, height, settings);
}

void transformGridInto(const std::uint32_t* source, std::ptrdiff_t sourceStride, std::uint32_t* target,
                       std::ptrdiff_t targetStride, int width, int height, const AdjustmentSettings& settings)
{
    if (!source || !target || width <= 0 || height <= 0)
        return;
    const GridRule rule(settings);
    // In place, the rows are in the cache already; into another image, they
    // are written past it. A large grid is split by rows across the cores.
    const bool inPlace = source == target;
    const std::int64_t minimumRows = std::max<std::int64_t>(1, (std::int64_t(4) << 20) / (std::int64_t(width) * 4));
    inParts(height, minimumRows, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t y = begin; y < end; ++y) {
            const std::uint32_t* in = source + std::ptrdiff_t(y) * sourceStride;
            std::uint32_t* out = target + std::ptrdiff_t(y) * targetStride;
            if (inPlace)
                transformRow<false>(in, out, width, rule);
            else
                transformRow<true>(in, out, width, rule);
        }
#if defined(__SSE2__)
        if (!inPlace)
            _mm_sfence();
#endif
    });
}

} // namespace penumbrix
