// bzip2 beyond the shared stream table: output kept up to a cut on devices,
// and the block-parallel decoder, which must give the serial decoder's result
// or leave the file to it.

#include "DecompressFixture.h"
#include "archive/FileToolsIo.h"

#include <QBuffer>
#include <QFile>

#include <bzlib.h>

namespace {

using Bzip2Test = DecompressTest;

TEST_F(Bzip2Test, StreamOnDevicesKeepsWhatWasWrittenBeforeTheCut) {
    const QByteArray text = SampleText(20000); // several bzip2 blocks of 900 kB
    const QByteArray packed = Bzip2(text);
    QBuffer in, out;
    in.setData(packed.left(packed.size() - 100));
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::WriteOnly);
    const TDecompressResult r = UncompressStream(TCompression::Bzip2, in, out);
    EXPECT_EQ(r.Status, TDecompressStatus::Truncated);
    EXPECT_EQ(r.Text(), "error -7");
    EXPECT_EQ(r.Written, quint64(out.data().size()));
    EXPECT_TRUE(text.startsWith(out.data()));
    EXPECT_LT(out.data().size(), text.size());
}

// Blocks of 100 kB: the sample text makes some ten blocks per stream.
TEST_F(Bzip2Test, BlocksDecodedInParallelGiveTheSerialResult) {
    const QByteArray a = SampleText(20000), b = SampleText(3000);
    WriteBytes(Path("in"), Bzip2(a, 1) + Bzip2(b, 2) + "trailing bytes");
    const std::optional<TDecompressResult> r =
        UncompressBzip2InParallel(Path("in"), Path("out"), SafeFiles::MaxIndexSize, 3);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(r->Ok());
    EXPECT_EQ(r->Written, quint64(a.size() + b.size()));
    EXPECT_EQ(ReadBytes(Path("out")), a + b);

    EXPECT_EQ(UncompressBzip2InParallel(Path("in"), Path("limited"), quint64(a.size()), 2)->Status,
              TDecompressStatus::TooLarge);
    EXPECT_EQ(ReadBytes(Path("limited")), Missing);
}

// The level digit bounds the length of every block of its stream: a file
// whose blocks are longer than its digit allows is corrupt for both decoders,
// whatever the machine's load makes the public call choose.
TEST_F(Bzip2Test, LevelDigitIsJudgedAlikeByBothDecoders) {
    const QByteArray text = SampleText(20000); // two blocks at level 9, twelve at level 1
    auto relabel = [](QByteArray bzip2, char digit) {
        bzip2[3] = digit;
        return bzip2;
    };
    const QByteArray nine = Bzip2(text, 9), one = Bzip2(text, 1);
    const std::pair<QByteArray, bool> cases[] = {
        {relabel(nine, '1'), false},       {relabel(nine, '8'), false},
        {one + relabel(nine, '5'), false}, // the second stream relabelled
        {relabel(one, '9'), true},         {relabel(one, '2'), true},
    };
    int n = 0;
    for (const auto& [input, ok] : cases) {
        SCOPED_TRACE(n++);
        WriteBytes(Path("in"), input);
        QFile source(Path("in"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QBuffer serialOut;
        serialOut.open(QIODevice::WriteOnly);
        const TDecompressResult serial = UncompressStream(TCompression::Bzip2, source, serialOut);
        EXPECT_EQ(serial.Status, ok ? TDecompressStatus::Ok : TDecompressStatus::DataError);
        for (unsigned workers : {2u, 3u}) {
            QFile::remove(Path("out"));
            const std::optional<TDecompressResult> parallel = UncompressBzip2InParallel(
                Path("in"), Path("out"), SafeFiles::MaxIndexSize, workers);
            if (!parallel)
                continue; // left to the serial decoder
            EXPECT_EQ(parallel->Status, serial.Status) << workers;
            EXPECT_EQ(ReadBytes(Path("out")), ok ? serialOut.data() : Missing) << workers;
        }
    }
}

TEST_F(Bzip2Test, ParallelDecodingLeavesAnyDoubtToTheSerialDecoder) {
    const QByteArray text = SampleText(20000);
    const QByteArray good = Bzip2(text, 1);
    QByteArray corrupt = good;
    for (int i = good.size() / 2; i < good.size() / 2 + 8; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x10);
    struct TCase {
        const char* What;
        QByteArray Input;
        unsigned Workers = 2;
    };
    const TCase cases[] = {
        {"corrupt block", corrupt},
        {"cut short", good.left(good.size() - 10)},
        {"one block only", Bzip2("Package: a\n")},
        {"not bzip2", text},
        {"one worker", good, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        WriteBytes(Path("in"), c.Input);
        WriteBytes(Path("out"), "previous");
        EXPECT_FALSE(
            UncompressBzip2InParallel(Path("in"), Path("out"), SafeFiles::MaxIndexSize, c.Workers)
                .has_value());
        EXPECT_EQ(ReadBytes(Path("out")), "previous");
        EXPECT_EQ(Entries(), (QStringList{"in", "out"}));
    }
    // Through the public call, whichever decoder runs, the corrupt file fails.
    WriteBytes(Path("in"), corrupt);
    const TDecompressResult r = UncompressFile(TCompression::Bzip2, Path("in"), Path("out"));
    EXPECT_EQ(r.Status, TDecompressStatus::DataError);
    EXPECT_EQ(r.Code, BZ_DATA_ERROR);
    EXPECT_EQ(r.Text(), "error -4");
    EXPECT_EQ(ReadBytes(Path("out")), "previous");
}

} // namespace
