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

// The parallel decoder gives the serial decoder's result or leaves the file
// to it, as it must whenever in doubt. The level digit bounds the length of
// every block of its stream: a file whose blocks are longer than its digit
// allows is corrupt for both decoders, whatever the machine's load makes the
// public call choose.
TEST_F(Bzip2Test, ParallelDecodingGivesTheSerialResultOrLeavesTheFileToIt) {
    const QByteArray text = SampleText(20000); // two blocks at level 9, twelve at level 1
    auto relabel = [](QByteArray bzip2, char digit) {
        bzip2[3] = digit;
        return bzip2;
    };
    const QByteArray nine = Bzip2(text, 9), one = Bzip2(text, 1);
    QByteArray corrupt = one;
    for (int i = one.size() / 2; i < one.size() / 2 + 8; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x10);
    using enum TDecompressStatus;
    struct TCase {
        const char* What;
        QByteArray Input;
        TDecompressStatus Serial;
        bool MustDecline = false;
        std::vector<unsigned> Workers = {2, 3};
    };
    const TCase cases[] = {
        {"level 9 labelled 1", relabel(nine, '1'), DataError},
        {"level 9 labelled 8", relabel(nine, '8'), DataError},
        {"second stream relabelled", one + relabel(nine, '5'), DataError},
        {"level 1 labelled 9", relabel(one, '9'), Ok},
        {"level 1 labelled 2", relabel(one, '2'), Ok},
        {"corrupt block", corrupt, DataError, true},
        {"cut short", one.left(one.size() - 10), Truncated, true},
        {"one block only", Bzip2("Package: a\n"), Ok, true},
        {"not bzip2", text, DataError, true},
        {"one worker", one, Ok, true, {1}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        WriteBytes(Path("in"), c.Input);
        QFile source(Path("in"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QBuffer serial;
        serial.open(QIODevice::WriteOnly);
        EXPECT_EQ(UncompressStream(TCompression::Bzip2, source, serial).Status, c.Serial);
        for (unsigned workers : c.Workers) {
            WriteBytes(Path("out"), "previous");
            const std::optional<TDecompressResult> parallel = UncompressBzip2InParallel(
                Path("in"), Path("out"), SafeFiles::MaxIndexSize, workers);
            EXPECT_FALSE(parallel && c.MustDecline) << workers;
            if (parallel) {
                EXPECT_EQ(parallel->Status, c.Serial) << workers;
            }
            EXPECT_EQ(ReadBytes(Path("out")),
                      parallel && c.Serial == Ok ? serial.data() : QByteArray("previous"));
            EXPECT_EQ(Entries(), (QStringList{"in", "out"}));
        }
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
