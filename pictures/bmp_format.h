#pragma once
// What the BMP reader and writer share: the headers' sizes, little-endian
// fields, the picture's word order and how rows are split up for the cores.
// For pictures/ alone.

#include <QtGlobal>

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PENUMBRIX_X86 1
#endif

namespace penumbrix::bmp {

inline constexpr qint64 kFileHeaderSize = 14;
inline constexpr qint64 kInfoHeaderSize = 40;
// Rows read from or written to a file go through a buffer of this size, which
// stays in the cache.
inline constexpr qint64 kReadBytes = qint64(256) << 10;
// A picture is split across the cores in parts of at least this many bytes.
inline constexpr qint64 kPartBytes = qint64(4) << 20;

inline quint16 get16(const uchar* p) { return quint16(p[0] | p[1] << 8); }
inline quint32 get32(const uchar* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
inline void put16(uchar* p, quint32 v)
{
    p[0] = uchar(v);
    p[1] = uchar(v >> 8);
}
inline void put32(uchar* p, quint32 v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

// A picture pixel is the word 0xFFBBGGRR; BMP pixels are the bytes B, G, R
// (and X for 32 bits).
inline quint32 load32(const uchar* p)
{
    quint32 v;
    std::memcpy(&v, p, 4);
    return v;
}

// Swaps the low and the third byte of a word: 0xXXBBGGRR <-> 0xXXRRGGBB.
inline quint32 swapRedBlue(quint32 v)
{
    return (v & 0x0000ff00u) | (v >> 16 & 0xffu) | (v & 0xffu) << 16;
}

} // namespace penumbrix::bmp
