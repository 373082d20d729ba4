#pragma once
// What the benchmark's parts share: timing and a picture to work on.

#include <QImage>

#include <algorithm>
#include <chrono>
#include <functional>

#include "platform/picture.h"

namespace penumbrix::bench {

// The best of `runs` timings of `work`, in milliseconds.
inline double bestMs(int runs, const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(end - start).count());
    }
    return best;
}

// A picture whose neighbouring pixels all differ.
inline Picture makePicture(int width, int height)
{
    QImage image(width, height, kPictureFormat);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000u | ((quint32(x) * 2654435761u + quint32(y) * 40503u) & 0xFFFFFFu);
    }
    return image;
}

} // namespace penumbrix::bench
