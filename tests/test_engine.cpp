// The adjustment rule and its grid kernel.

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/parallel.h"
#include "engine/pixel_transform.h"

using namespace penumbrix;

Q_DECLARE_METATYPE(penumbrix::AdjustmentSettings)

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    // The rule's cases; then every colour through the grid kernel, in place and into another grid.
    void everyColour_data()
    {
        QTest::addColumn<AdjustmentSettings>("settings");
        QTest::addColumn<QList<int>>("cases"); // a colour, what it becomes, a colour, ...
        // Red, green, blue, light, contrast, range, czoom.
        auto row = [](const char* name, AdjustmentSettings s, QList<int> cases = {}) {
            QTest::newRow(name) << s << cases;
        };
        // Threshold 12,800: cuts everything without blue and with green below 50.
        row("start", {128, 128, 128, 128, 128, 128, 1},
            {0x0000FF, 0, 0x0031FF, 0, 0x0032FF, 0x0032FF, 0x010000, 0x010000, -1, 0});
        // Strictly below is cut, equal is kept.
        row("threshold 100", {128, 128, 128, 128, 128, 1, 1}, {0x000063, 0, 0x000064, 0x000064, 0x000100, 0x000100});
        // The comparison is on the whole value: blue outweighs everything else.
        row("threshold 65,600", {128, 128, 128, 128, 128, 8, 82}, {0x00FFFF, 0, 0x020000, 0x020000});
        row("threshold 7,680,000", {128, 128, 128, 128, 128, 256, 300}, {7'679'999, 0, 7'680'000, 7'680'000});
        // Threshold 0 cuts no colour, but still cuts -1 while contrast > 0.
        row("range 0", {128, 128, 128, 128, 128, 0, 300}, {0, 0, -1, 0});
        row("neutral", {128, 128, 128, 128, 128, 128, 0}, {0x0000FF, 0x0000FF});
        // Contrast 0 never cuts, and takes 128 off every channel.
        row("contrast 0", {128, 128, 128, 128, 0, 256, 300}, {0x0000FF, 0x00007F, 0xFFFFFF, 0x7F7F7F, -1, 0});
        // Offsets add up and each channel clamps on its own.
        row("light and contrast, +44", {128, 128, 128, 200, 100, 128, 0}, {0x80FF10, 0xACFF3C});
        row("per-channel offsets", {100, 128, 200, 138, 128, 128, 0}, {0x204060, 0x724A4E});
        row("offsets at their maximum", {255, 255, 255, 255, 255, 128, 0}, {0x000000, 0xFFFFFF});
        row("offsets at their minimum", {0, 0, 0, 0, 128, 0, 0}, {0xFFFFFF, 0x000000});
        row("contrast 1, max threshold", {0, 255, 0, 128, 1, 256, 300});
        row("mixed signs per channel", {0, 128, 255, 140, 120, 8, 82});
        row("offsets just past 255", {255, 0, 128, 255, 254, 1, 1});
    }

    void everyColour()
    {
        QFETCH(AdjustmentSettings, settings);
        QFETCH(QList<int>, cases);
        for (int i = 0; i + 1 < cases.size(); i += 2)
            QCOMPARE(pixelTransform(cases[i], settings), cases[i + 1]);
        std::vector<std::uint32_t> grid(0x1000000);
        for (std::uint32_t v = 0; v < grid.size(); ++v)
            grid[v] = 0xFF000000u | v;
        // Grids half as wide as their rows are apart: the upper half in place, the lower into an unaligned grid.
        std::vector<std::uint32_t> other(0x800000 + 1);
        std::uint32_t* const lower = grid.data() + 0x800000;
        for (int left : {0, 2048}) {
            transformGrid(grid.data() + left, 2048, 2048, 4096, settings);
            transformGridInto(lower + left, 4096, other.data() + 1 + left, 4096, 2048, 2048, settings);
        }
        std::copy(other.begin() + 1, other.end(), lower);
        const bool neutral = QTest::currentDataTag() == QByteArray("neutral");
        for (std::uint32_t v = 0; v < grid.size(); ++v) {
            const std::uint32_t expected = 0xFF000000u | std::uint32_t(pixelTransform(std::int32_t(v), settings));
            if (grid[v] != expected || (neutral && expected != (0xFF000000u | v))) // neutral keeps every colour
                QFAIL(qPrintable(QString("colour %1: %2, expected %3").arg(v, 6, 16, QChar('0'))
                                     .arg(grid[v], 8, 16, QChar('0')).arg(expected, 8, 16, QChar('0'))));
        }
    }

    // Every part runs once: with fewer kept threads than parts (rows in order), or none starting.
    void parts_data()
    {
        QTest::addColumn<int>("parts");
        QTest::addColumn<bool>("startsFail");
        QTest::newRow("1") << 1 << false;
        QTest::newRow("2") << 2 << false;
        QTest::newRow("8, no thread starts") << 8 << true;
        QTest::newRow("3") << 3 << false;
        QTest::newRow("8, more than the threads kept") << 8 << false;
        QTest::newRow("16, more than the threads kept") << 16 << false;
        QTest::newRow("as the program runs: one a core, at most 4") << 0 << false;
    }
    void parts()
    {
        QFETCH(int, parts);
        QFETCH(bool, startsFail);
        setMostParts(parts);
        setThreadStartsFail(startsFail);
        std::vector<std::atomic<int>> runs(1000);
        std::atomic<int> elsewhere{0}, made{0};
        const std::thread::id caller = std::this_thread::get_id();
        inParts(1000, 1, [&](std::int64_t begin, std::int64_t end) {
            ++made;
            elsewhere += std::this_thread::get_id() != caller;
            for (std::int64_t i = begin; i < end; ++i)
                ++runs[std::size_t(i)];
        });
        setMostParts(0), setThreadStartsFail(false);
        for (std::size_t i = 0; i < runs.size(); ++i)
            QCOMPARE(runs[i].load(), 1);
        const int expected = parts ? parts : std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
        QCOMPARE(made.load(), expected);
        QCOMPARE(elsewhere == 0, startsFail || expected == 1);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
