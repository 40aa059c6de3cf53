// bzip2, xz and zstd through one table of whole, concatenated, corrupt and
// cut-short streams, and every decoder against archives made to fill memory.

#include "DecompressFixture.h"
#include "archive/FileToolsIo.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <fstream>
#include <string>

namespace {

class StreamTest : public DecompressTest, public ::testing::WithParamInterface<TCompression> {};

INSTANTIATE_TEST_SUITE_P(Kinds, StreamTest,
                         ::testing::Values(TCompression::Bzip2, TCompression::Xz,
                                           TCompression::Zstd),
                         [](const auto& info) {
                             return std::string(info.param == TCompression::Bzip2 ? "bzip2"
                                                : info.param == TCompression::Xz  ? "xz"
                                                                                  : "zstd");
                         });

// A success gives the whole output; a failure carries the library's code and
// leaves the previous output and nothing else.
TEST_P(StreamTest, StreamsGiveTheirOutputOrAFailureThatKeepsThePreviousOne) {
    using enum TDecompressStatus;
    const QByteArray a = SampleText(3000), b = "second stream\n";
    const QByteArray good = Compress(GetParam(), a);
    QByteArray corrupt = good;
    for (int i = good.size() / 2; i < good.size() / 2 + 16; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x33);
    // Bytes after the last stream: ignored by bzip2, refused by xz and zstd,
    // as the command-line tools judge them.
    const bool bzip2 = GetParam() == TCompression::Bzip2;
    struct TCase {
        const char* What;
        QByteArray Input;
        TDecompressStatus Status;
        QByteArray Output = {}; // when Ok
    };
    const TCase cases[] = {
        {"one stream", good, Ok, a},
        {"two streams", good + Compress(GetParam(), b), Ok, a + b},
        {"empty input", QByteArray(), Ok, QByteArray()},
        {"trailing bytes", Compress(GetParam(), b) + "garbage after the stream",
         bzip2 ? Ok : DataError, b},
        {"cut after the magic", good.left(4), Truncated},
        {"cut in the middle", good.left(good.size() / 2), Truncated},
        {"last byte missing", good.left(good.size() - 1), Truncated},
        {"second stream cut short", good + good.left(good.size() / 2), Truncated},
        {"corrupt data", corrupt, DataError},
        {"not compressed at all", a, DataError},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        WriteBytes(Path("in"), c.Input);
        WriteBytes(Path("out"), "previous");
        const TDecompressResult r = UncompressFile(GetParam(), Path("in"), Path("out"));
        EXPECT_EQ(r.Status, c.Status) << r.Text().toStdString();
        if (r.Ok()) {
            EXPECT_EQ(r.Written, quint64(c.Output.size()));
            EXPECT_EQ(ReadBytes(Path("out")), c.Output);
        } else {
            EXPECT_NE(r.Code, 0);
            EXPECT_EQ(r.Text(), QStringLiteral("error %1").arg(r.Code));
            EXPECT_EQ(ReadBytes(Path("out")), "previous");
        }
        EXPECT_EQ(Entries(), (QStringList{"in", "out"}));
    }
}

TEST_P(StreamTest, OutputOverTheLimitOrMissingFilesFail) {
    const QByteArray zeros(3 << 20, '\0');
    WriteBytes(Path("in"), Compress(GetParam(), zeros));
    const TDecompressResult r =
        UncompressFile(GetParam(), Path("in"), Path("out"), quint64(zeros.size()) - 1);
    EXPECT_EQ(r.Status, TDecompressStatus::TooLarge);
    EXPECT_EQ(Entries(), QStringList{"in"});
    EXPECT_TRUE(UncompressFile(GetParam(), Path("in"), Path("out"), quint64(zeros.size())).Ok());
    EXPECT_EQ(ReadBytes(Path("out")), zeros);
    // Missing input or output folder.
    EXPECT_EQ(UncompressFile(GetParam(), Path("absent"), Path("o")).Status,
              TDecompressStatus::InputFailed);
    EXPECT_EQ(UncompressFile(GetParam(), Path("in"), Path("no/such/out")).Status,
              TDecompressStatus::OutputFailed);
    EXPECT_EQ(Entries(), (QStringList{"in", "out"}));
}

// The process's resident memory in KiB ("VmRSS") or its peak ("VmHWM").
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0 && line.size() > std::strlen(field) + 1)
            return std::stol(line.substr(std::strlen(field) + 1));
    return -1;
}

// How far resident memory rose above its level at the start while work ran.
template <typename F> long PeakGrowthMiB(F&& work) {
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from now
    const long before = StatusKiB("VmRSS:");
    work();
    return (StatusKiB("VmHWM:") - before) / 1024;
}

// Archives of 1 GiB of zeros, a few KB to 1 MB each, as a server could send
// to fill memory and disk. Every decoder stops at the output limit, leaves no
// output, and holds a bounded amount of memory meanwhile: an xz dictionary or
// a zstd window larger than real tools make is refused before decoding, and
// the parallel bzip2 decoder never holds many large blocks at once.
TEST_F(DecompressTest, ZerosPastTheLimitStopThereInBoundedMemory) {
    constexpr std::uint64_t GiB = std::uint64_t(1) << 30, Limit = std::uint64_t(64) << 20;
    enum TWay { Gzip, Serial, Parallel };
    struct TCase {
        const char* What;
        TWay Way;
        TCompression Kind;
        std::string Archive;
        TDecompressStatus Status;
    };
    using enum TDecompressStatus;
    using namespace TestArchives;
    const std::string bzip2 = Bzip2OfZeros(GiB);
    const TCase cases[] = {
        {"gzip", Gzip, TCompression::Bzip2, GzipOfZeros(GiB), TooLarge},
        {"bzip2", Serial, TCompression::Bzip2, bzip2, TooLarge},
        {"bzip2 on 8 workers", Parallel, TCompression::Bzip2, bzip2, TooLarge},
        {"xz, 64 MiB dictionary", Serial, TCompression::Xz, XzOfZeros(GiB, 64u << 20), TooLarge},
        {"xz, 256 MiB dictionary", Serial, TCompression::Xz, XzOfZeros(GiB, 256u << 20), NoMemory},
        {"zstd, 128 MiB window", Serial, TCompression::Zstd, ZstdOfZeros(GiB, 27), TooLarge},
        {"zstd, 256 MiB window", Serial, TCompression::Zstd, ZstdOfZeros(GiB, 28), NoMemory},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        const QString in = Path(c.Way == Gzip ? "in.gz" : "in");
        WriteBytes(in, QByteArray::fromStdString(c.Archive));
        TDecompressResult r;
        const long growth = PeakGrowthMiB([&] {
            if (c.Way == Gzip) {
                const TGUnZipResult g = GUnZipFile(in, dir.path(), DefaultBufferSize, {}, Limit);
                r.Status = g.Outcome == TGUnZipOutcome::TooLarge ? TooLarge : Ok;
                r.Written = g.BytesWritten;
                return;
            }
            std::optional<TDecompressResult> parallel;
            if (c.Way == Parallel)
                parallel = UncompressBzip2InParallel(in, Path("out"), Limit, 8);
            r = parallel ? *parallel : UncompressFile(c.Kind, in, Path("out"), Limit);
        });
        EXPECT_EQ(r.Status, c.Status) << r.Text().toStdString();
        EXPECT_LE(r.Written, Limit);
        EXPECT_FALSE(r.Text().isEmpty());
        EXPECT_EQ(Entries(), QStringList{QFileInfo(in).fileName()});
        EXPECT_LT(growth, 200) << "MiB";
        QFile::remove(in);
    }
}

} // namespace
