// The adjustment rule and its grid kernel.

#include <QtTest>

#include <vector>

#include "engine/pixel_transform.h"

using namespace penumbrix;

Q_DECLARE_METATYPE(penumbrix::AdjustmentSettings)

namespace {

// Red, green, blue, light, contrast, range, czoom.
AdjustmentSettings make(int r, int g, int b, int light, int contrast, int range, int czoom)
{
    return {std::int16_t(r), std::int16_t(g), std::int16_t(b), std::int16_t(light),
            std::int16_t(contrast), std::int16_t(range), std::int16_t(czoom)};
}

const AdjustmentSettings kNeutral = make(128, 128, 128, 128, 128, 128, 0);
const AdjustmentSettings kAtStart = make(128, 128, 128, 128, 128, 128, 1);

} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void transform_data()
    {
        QTest::addColumn<AdjustmentSettings>("settings");
        QTest::addColumn<int>("colour");
        QTest::addColumn<int>("expected");

        // Start values: threshold 12,800 cuts everything without blue and green < 50.
        QTest::newRow("start: pure red cut") << kAtStart << 0x0000FF << 0;
        QTest::newRow("start: green 49 cut") << kAtStart << 0x0031FF << 0;
        QTest::newRow("start: green 50 kept") << kAtStart << 0x0032FF << 0x0032FF;
        QTest::newRow("start: blue 1 kept") << kAtStart << 0x010000 << 0x010000;
        QTest::newRow("start: -1 cut") << kAtStart << -1 << 0;
        // Threshold 100: strictly below is cut, equal is kept.
        const auto t100 = make(128, 128, 128, 128, 128, 1, 1);
        QTest::newRow("t100: red 99 cut") << t100 << 0x000063 << 0;
        QTest::newRow("t100: red 100 kept") << t100 << 0x000064 << 0x000064;
        QTest::newRow("t100: green 1 kept") << t100 << 0x000100 << 0x000100;
        // The comparison is on the whole value: blue outweighs everything else.
        const auto t65600 = make(128, 128, 128, 128, 128, 8, 82);
        QTest::newRow("t65600: yellow cut") << t65600 << 0x00FFFF << 0;
        QTest::newRow("t65600: dark blue kept") << t65600 << 0x020000 << 0x020000;
        // Threshold 0 cuts no colour, but still cuts -1 while contrast > 0.
        QTest::newRow("range 0: black kept") << make(128, 128, 128, 128, 128, 0, 300) << 0 << 0;
        QTest::newRow("range 0: -1 cut") << make(128, 128, 128, 128, 128, 0, 300) << -1 << 0;
        QTest::newRow("czoom 0: red kept") << kNeutral << 0x0000FF << 0x0000FF;
        // Contrast 0 never cuts, and takes 128 off every channel.
        const auto noContrast = make(128, 128, 128, 128, 0, 256, 300);
        QTest::newRow("contrast 0: below threshold not cut") << noContrast << 0x0000FF << 0x00007F;
        QTest::newRow("contrast 0: white") << noContrast << 0xFFFFFF << 0x7F7F7F;
        QTest::newRow("contrast 0: -1 clamps to black") << make(128, 128, 128, 128, 0, 128, 128) << -1 << 0;
        // Offsets add up and each channel clamps on its own.
        QTest::newRow("light+contrast +44") << make(128, 128, 128, 200, 100, 128, 0) << 0x80FF10 << 0xACFF3C;
        QTest::newRow("per-channel offsets") << make(100, 128, 200, 138, 128, 128, 0) << 0x204060 << 0x724A4E;
        QTest::newRow("all offsets max saturate") << make(255, 255, 255, 255, 255, 128, 0) << 0x000000 << 0xFFFFFF;
        QTest::newRow("all offsets min saturate") << make(0, 0, 0, 0, 128, 0, 0) << 0xFFFFFF << 0x000000;
        QTest::newRow("max threshold, just below") << make(128, 128, 128, 128, 128, 256, 300) << 7'679'999 << 0;
        QTest::newRow("max threshold, equal") << make(128, 128, 128, 128, 128, 256, 300) << 7'680'000 << 7'680'000;
    }

    void transform()
    {
        QFETCH(AdjustmentSettings, settings);
        QFETCH(int, colour);
        QFETCH(int, expected);
        QCOMPARE(pixelTransform(colour, settings), expected);
    }

    void gridMatchesRuleOnEveryColour_data()
    {
        QTest::addColumn<AdjustmentSettings>("settings");
        QTest::newRow("neutral") << kNeutral;
        QTest::newRow("start") << kAtStart;
        QTest::newRow("every minimum") << make(0, 0, 0, 0, 0, 0, 0);
        QTest::newRow("every maximum") << make(255, 255, 255, 255, 255, 256, 300);
        QTest::newRow("contrast 0, max threshold") << make(128, 128, 128, 128, 0, 256, 300);
        QTest::newRow("contrast 1, max threshold") << make(0, 255, 0, 128, 1, 256, 300);
        QTest::newRow("mixed signs per channel") << make(0, 128, 255, 140, 120, 8, 82);
        QTest::newRow("offsets just past 255") << make(255, 0, 128, 255, 254, 1, 1);
    }

    void gridMatchesRuleOnEveryColour()
    {
        QFETCH(AdjustmentSettings, settings);
        std::vector<std::uint32_t> grid(0x1000000);
        for (std::uint32_t v = 0; v < grid.size(); ++v)
            grid[v] = 0xFF000000u | v;
        // 4096 x 4096, one row of memory per 4096 colours: the upper half in
        // place, the lower half into another (unaligned) grid and back.
        transformGrid(grid.data(), 4096, 2048, 4096, settings);
        std::vector<std::uint32_t> other(0x800000 + 1);
        std::uint32_t* const lower = grid.data() + 0x800000;
        transformGridInto(lower, 4096, other.data() + 1, 4096, 4096, 2048, settings);
        std::copy(other.begin() + 1, other.end(), lower);
        const bool neutral = QTest::currentDataTag() == QByteArray("neutral");
        for (std::uint32_t v = 0; v < grid.size(); ++v) {
            const std::uint32_t expected = 0xFF000000u | std::uint32_t(pixelTransform(std::int32_t(v), settings));
            // Neutral settings keep every colour.
            if (neutral && expected != (0xFF000000u | v))
                QFAIL("neutral settings change a colour");
            if (grid[v] != expected)
                QFAIL(qPrintable(QStringLiteral("colour %1: %2, expected %3")
                                     .arg(v, 6, 16, QLatin1Char('0'))
                                     .arg(grid[v], 8, 16, QLatin1Char('0'))
                                     .arg(expected, 8, 16, QLatin1Char('0'))));
        }
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
