// The decompressors: gzip through its header, trailer, stored name and worker
// thread; bzip2, xz and zstd through whole, corrupt and cut-short streams. Every
// failure must leave the previous output file as it was.

#include "archive/FileTools.h"
#include "archive/FileToolsIo.h"
#include "support/Archives.h"
#include "support/Files.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>

using namespace FileTools;
using TestFiles::ReadBytes;
using TestFiles::WriteBytes;

namespace {

const QByteArray Missing = "<missing>";

QByteArray SampleText(int stanzas = 2000) {
    QByteArray text;
    for (int i = 0; i < stanzas; ++i)
        text += "Package: com.example.p" + QByteArray::number(i) + "\nVersion: 1." +
                QByteArray::number(i % 7) + "\nSection: Tweaks\n\n";
    return text;
}

void PutLe32(QByteArray& out, quint32 v) {
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

QByteArray RawDeflate(const QByteArray& data) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(data.size()))), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(int(zs.total_out));
    deflateEnd(&zs);
    return out;
}

struct GzipParts {
    QByteArray extra;       // FEXTRA when not null
    QByteArray name;        // FNAME when not null (the 0 is added)
    QByteArray comment;     // FCOMMENT when not null
    bool headerCrc = false; // FHCRC
    qint64 crcDelta = 0;    // added to the trailer's CRC
    qint64 sizeDelta = 0;   // added to the trailer's size
};

QByteArray Gzip(const QByteArray& data, const GzipParts& p = {}) {
    QByteArray out("\x1F\x8B\x08", 3);
    out += char((p.headerCrc ? GzipFlagHeaderCrc : 0) | (p.extra.isNull() ? 0 : GzipFlagExtra) |
                (p.name.isNull() ? 0 : GzipFlagName) | (p.comment.isNull() ? 0 : GzipFlagComment));
    out += QByteArray("\0\0\0\0\0\x03", 6); // time, extra flags, OS
    if (!p.extra.isNull())
        out += char(p.extra.size() & 0xFF) + (char(p.extra.size() >> 8) + p.extra);
    if (!p.name.isNull())
        out += p.name + '\0';
    if (!p.comment.isNull())
        out += p.comment + '\0';
    if (p.headerCrc)
        out += QByteArray("\xAB\xCD", 2); // skipped, not checked
    out += RawDeflate(data);
    const quint32 crc =
        quint32(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    PutLe32(out, quint32(crc + p.crcDelta));
    PutLe32(out, quint32(data.size() + p.sizeDelta));
    return out;
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

QByteArray Bzip2(const QByteArray& data, int level) {
    return QByteArray::fromStdString(TestArchives::Bzip2(data.toStdString(), level));
}

QByteArray Compress(TCompression kind, const QByteArray& data) {
    if (kind == TCompression::Bzip2)
        return Bzip2(data, 9);
    if (kind == TCompression::Xz)
        return QByteArray::fromStdString(TestArchives::Xz(data.toStdString()));
    // zstd with the content checksum, as the command-line tool writes it
    QByteArray out(data.size() + data.size() / 2 + 1024, '\0');
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
    const size_t n =
        ZSTD_compress2(cctx, out.data(), size_t(out.size()), data.data(), size_t(data.size()));
    ZSTD_freeCCtx(cctx);
    EXPECT_FALSE(ZSTD_isError(n));
    out.resize(int(n));
    return out;
}

class FileToolsTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QStringList Entries() const {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QTemporaryDir dir;
};

TEST(GzipHeaderTest, ReadWholeOrInPiecesGivesTheSameHeader) {
    GzipParts parts;
    parts.extra = QByteArray(300, 'x');
    parts.name = "Packages";
    parts.comment = "made by hand";
    parts.headerCrc = true;
    const QByteArray file = Gzip("data", parts);
    const std::size_t expectedLength = 10 + 2 + 300 + 9 + 13 + 2;

    auto read = [](std::string_view bytes) {
        TGzipHeaderReader reader;
        reader.Feed(bytes);
        return reader;
    };
    const TGzipHeaderReader all = read(std::string_view(file.data(), std::size_t(file.size())));
    ASSERT_EQ(all.Status(), TGzipHeaderStatus::Complete);
    const TGzipHeader& whole = all.Header();
    EXPECT_EQ(whole.Length, expectedLength);
    EXPECT_EQ(whole.StoredName, "Packages");
    EXPECT_EQ(whole.Flags, GzipFlagExtra | GzipFlagName | GzipFlagComment | GzipFlagHeaderCrc);

    // Every split point, including inside the extra length and the header CRC.
    for (std::size_t cut = 0; cut <= expectedLength; ++cut) {
        TGzipHeaderReader reader;
        EXPECT_EQ(reader.Feed(std::string_view(file.data(), cut)), cut);
        EXPECT_EQ(reader.Feed(std::string_view(file.data() + cut, std::size_t(file.size()) - cut)),
                  expectedLength - cut);
        ASSERT_EQ(reader.Status(), TGzipHeaderStatus::Complete) << cut;
        EXPECT_EQ(reader.Header().StoredName, "Packages") << cut;
    }

    EXPECT_EQ(read(std::string_view(file.data(), expectedLength - 1)).Status(),
              TGzipHeaderStatus::NeedMore);
    EXPECT_EQ(read("\x1E").Status(), TGzipHeaderStatus::NotGzip);
    EXPECT_EQ(read("\x1F\x8C").Status(), TGzipHeaderStatus::NotGzip);
}

// A plain stored name ("Packages") is used: see the worker test below.
TEST_F(FileToolsTest, GzipStoredNameThatIsNotPlainIsIgnored) {
    const QByteArray text = SampleText(50);
    QDir(dir.path()).mkdir("work");
    const QString work = Path("work");
    for (const QByteArray& stored :
         {QByteArray(), QByteArray(""), QByteArray("."), QByteArray(".."), QByteArray("../x"),
          QByteArray("a/b"), QByteArray("a\\b"), QByteArray("/etc/passwd"), QByteArray(300, 'n')}) {
        SCOPED_TRACE(stored.toStdString());
        GzipParts parts;
        parts.name = stored;
        WriteBytes(work + "/download.txt.gz", Gzip(text, parts));
        const TGUnZipResult r = GUnZipFile(work + "/download.txt.gz", work);
        EXPECT_EQ(r.Outcome, TGUnZipOutcome::Ok);
        EXPECT_EQ(r.OutputPath, work + "/download.txt");
        EXPECT_EQ(ReadBytes(work + "/download.txt"), text);
        EXPECT_EQ(QDir(work).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                  (QStringList{"download.txt", "download.txt.gz"}));
        QFile::remove(work + "/download.txt");
    }
    EXPECT_EQ(Entries(), QStringList{"work"}); // nothing escaped the working folder
}

TEST_F(FileToolsTest, GzipFailuresLeaveThePreviousOutputAsItWas) {
    const QByteArray text = SampleText();
    const QByteArray good = Gzip(text);
    const int dataStart = 10;
    QByteArray corrupt = good;
    for (int i = dataStart + 20; i < dataStart + 60; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x5A);
    QByteArray notGzip = good;
    notGzip[1] = 'x';
    GzipParts badCrc, badSize, longHeader;
    badCrc.crcDelta = 1;
    badSize.sizeDelta = -1;
    longHeader.comment = QByteArray(100, 'c');
    const QByteArray zeros(4 << 20, '\0'); // compresses to a few KiB
    struct Case {
        const char* what;
        QByteArray bytes;
        TGUnZipOutcome Outcome;
        quint64 limit = SafeFiles::MaxIndexSize;
    };
    const Case cases[] = {
        {"empty file", QByteArray(), TGUnZipOutcome::NotGzip},
        {"one magic byte", QByteArray("\x1F"), TGUnZipOutcome::NotGzip},
        {"no magic", notGzip, TGUnZipOutcome::NotGzip},
        {"plain text", SampleText(20), TGUnZipOutcome::NotGzip},
        {"header cut short", Gzip(text, longHeader).left(60), TGUnZipOutcome::InflateError},
        {"corrupt deflate data", corrupt, TGUnZipOutcome::InflateError},
        {"cut in the data", good.left(good.size() / 2), TGUnZipOutcome::InflateError},
        {"cut in the trailer", good.left(good.size() - 3), TGUnZipOutcome::InflateError},
        {"trailer CRC wrong", Gzip(text, badCrc), TGUnZipOutcome::TrailerMismatch},
        {"trailer size wrong", Gzip(text, badSize), TGUnZipOutcome::TrailerMismatch},
        {"output over the limit", Gzip(zeros), TGUnZipOutcome::TooLarge, quint64(zeros.size()) - 1},
    };
    const QByteArray previous = "previous index\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("download.txt"), previous);
        WriteBytes(Path("download.txt.gz"), c.bytes);
        EXPECT_EQ(
            GUnZipFile(Path("download.txt.gz"), dir.path(), DefaultBufferSize, {}, c.limit).Outcome,
            c.Outcome);
        EXPECT_EQ(ReadBytes(Path("download.txt")), previous);
        EXPECT_EQ(Entries(), (QStringList{"download.txt", "download.txt.gz"}));
    }
    EXPECT_EQ(GUnZipFile(Path("download.txt.gz"), dir.path(), DefaultBufferSize, {},
                         quint64(zeros.size()))
                  .Outcome,
              TGUnZipOutcome::Ok);
    EXPECT_EQ(ReadBytes(Path("download.txt")), zeros);
}

TEST_F(FileToolsTest, GzipNothingToDoIsNotSuccess) {
    EXPECT_EQ(GUnZipFile(Path("absent.gz"), dir.path()).Outcome, TGUnZipOutcome::NoSource);
    WriteBytes(Path("download.txt.gz"), Gzip("abc"));
    EXPECT_EQ(GUnZipFile(Path("download.txt.gz"), QString()).Outcome, TGUnZipOutcome::NoSource);
    EXPECT_EQ(GUnZipFile(dir.path(), dir.path()).Outcome, TGUnZipOutcome::NoSource);
    EXPECT_EQ(GUnZipFile(Path("download.txt.gz"), Path("no/such/folder")).Outcome,
              TGUnZipOutcome::CreateFailed);
    EXPECT_EQ(Entries(), QStringList{"download.txt.gz"});
}

TEST_F(FileToolsTest, GzipOutputTakesTheSourceTimeAndPermissions) {
    WriteBytes(Path("download.txt.gz"), Gzip("abc"));
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1262304000); // 2010-01-01
    {
        QFile src(Path("download.txt.gz"));
        ASSERT_TRUE(src.open(QIODevice::ReadWrite));
        ASSERT_TRUE(src.setFileTime(when, QFileDevice::FileModificationTime));
    }
    ASSERT_EQ(::chmod(QFile::encodeName(Path("download.txt.gz")).constData(), 0640), 0);
    // An existing read-only output is replaced.
    WriteBytes(Path("download.txt"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(Path("download.txt")).constData(), 0444), 0);

    EXPECT_EQ(GUnZipFile(Path("download.txt.gz"), dir.path()).Outcome, TGUnZipOutcome::Ok);
    EXPECT_EQ(ReadBytes(Path("download.txt")), "abc");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(Path("download.txt")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, when.toSecsSinceEpoch());
}

TEST_F(FileToolsTest, GzipWorkerHandsCompletionToTheCreatingThread) {
    const QByteArray text = SampleText(300);
    GzipParts parts;
    parts.name = "Packages";
    // Only the first member counts; a tiny block size makes it pass through many blocks.
    WriteBytes(Path("download.txt.gz"), Gzip(text, parts) + Gzip("second member\n"));

    TGUnZipThread worker(Path("download.txt.gz"), dir.path(), true, 7);
    int emitted = 0;
    QThread* signalThread = nullptr;
    QObject::connect(&worker, &TCopyThread::finished, [&] {
        ++emitted;
        signalThread = QThread::currentThread();
    });
    // Created suspended: nothing happens until Start.
    QCoreApplication::processEvents();
    EXPECT_EQ(emitted, 0);
    EXPECT_EQ(ReadBytes(Path("Packages")), Missing);

    worker.Start();
    worker.Start(); // a second Start does nothing
    worker.WaitFor();
    EXPECT_EQ(emitted, 1);
    EXPECT_EQ(signalThread, QThread::currentThread());
    EXPECT_EQ(worker.Outcome(), TGUnZipOutcome::Ok);
    EXPECT_EQ(worker.Result().OutputPath, Path("Packages"));
    EXPECT_EQ(worker.Result().BytesWritten, quint64(text.size()));
    EXPECT_EQ(ReadBytes(Path("Packages")), text);

    // Freed without waiting: the destructor waits for the thread, and the
    // queued hand-off goes with the object.
    QFile::remove(Path("Packages"));
    { TGUnZipThread freed(Path("download.txt.gz"), dir.path(), false); }
    QCoreApplication::processEvents();
    EXPECT_EQ(ReadBytes(Path("Packages")), text);
}

class StreamTest : public FileToolsTest, public ::testing::WithParamInterface<TCompression> {};

INSTANTIATE_TEST_SUITE_P(Kinds, StreamTest,
                         ::testing::Values(TCompression::Bzip2, TCompression::Xz,
                                           TCompression::Zstd),
                         [](const auto& info) {
                             return std::string(info.param == TCompression::Bzip2 ? "bzip2"
                                                : info.param == TCompression::Xz  ? "xz"
                                                                                  : "zstd");
                         });

TEST_P(StreamTest, WholeAndConcatenatedStreams) {
    const QByteArray a = SampleText(3000), b = "second stream\n";
    struct Case {
        const char* what;
        QByteArray input, output;
    };
    const Case cases[] = {
        {"one stream", Compress(GetParam(), a), a},
        {"two streams", Compress(GetParam(), a) + Compress(GetParam(), b), a + b},
        {"empty input", QByteArray(), QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("in"), c.input);
        const TDecompressResult r = UncompressFile(GetParam(), Path("in"), Path("out"));
        EXPECT_TRUE(r.Ok()) << r.Text().toStdString();
        EXPECT_EQ(r.Written, quint64(c.output.size()));
        EXPECT_EQ(ReadBytes(Path("out")), c.output);
    }
}

TEST_P(StreamTest, CorruptOrCutShortIsAFailureThatKeepsThePreviousOutput) {
    const QByteArray text = SampleText(3000);
    const QByteArray good = Compress(GetParam(), text);
    QByteArray corrupt = good;
    for (int i = good.size() / 2; i < good.size() / 2 + 16; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x33);
    struct Case {
        const char* what;
        QByteArray input;
        TDecompressStatus Status;
    };
    const Case cases[] = {
        {"cut after the magic", good.left(4), TDecompressStatus::Truncated},
        {"cut in the middle", good.left(good.size() / 2), TDecompressStatus::Truncated},
        {"last byte missing", good.left(good.size() - 1), TDecompressStatus::Truncated},
        {"second stream cut short", good + good.left(good.size() / 2),
         TDecompressStatus::Truncated},
        {"corrupt data", corrupt, TDecompressStatus::DataError},
        {"not compressed at all", text, TDecompressStatus::DataError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("in"), c.input);
        WriteBytes(Path("out"), "previous");
        const TDecompressResult r = UncompressFile(GetParam(), Path("in"), Path("out"));
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(r.Status, c.Status) << r.Text().toStdString();
        EXPECT_NE(r.Code, 0);
        EXPECT_EQ(r.Text(), QStringLiteral("error %1").arg(r.Code));
        EXPECT_EQ(ReadBytes(Path("out")), "previous");
        EXPECT_EQ(Entries(), (QStringList{"in", "out"}));
    }
}

TEST_P(StreamTest, TrailingBytesAreJudgedAsTheToolsJudgeThem) {
    const QByteArray text = "Package: a\n";
    WriteBytes(Path("in"), Compress(GetParam(), text) + "garbage after the stream");
    const TDecompressResult r = UncompressFile(GetParam(), Path("in"), Path("out"));
    if (GetParam() == TCompression::Bzip2) {
        EXPECT_TRUE(r.Ok());
        EXPECT_EQ(ReadBytes(Path("out")), text);
    } else {
        EXPECT_EQ(r.Status, TDecompressStatus::DataError);
        EXPECT_EQ(ReadBytes(Path("out")), Missing);
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

// Archives of 1 GiB of zeros, a few KB to 1 MB each, as a server could send
// to fill memory and disk. Every decoder stops at the output limit, leaves no
// output, and holds a bounded amount of memory meanwhile: an xz dictionary or
// a zstd window larger than real tools make is refused before decoding, and
// the parallel bzip2 decoder never holds many large blocks at once.
TEST_F(FileToolsTest, ZerosPastTheLimitStopThereInBoundedMemory) {
    constexpr std::uint64_t GiB = std::uint64_t(1) << 30, Limit = std::uint64_t(64) << 20;
    enum Way { Gzip, Serial, Parallel };
    struct Case {
        const char* what;
        Way way;
        TCompression kind;
        std::string archive;
        TDecompressStatus Status;
    };
    const std::string bzip2 = TestArchives::Bzip2OfZeros(GiB);
    const Case cases[] = {
        {"gzip", Gzip, TCompression::Bzip2, TestArchives::GzipOfZeros(GiB),
         TDecompressStatus::TooLarge},
        {"bzip2", Serial, TCompression::Bzip2, bzip2, TDecompressStatus::TooLarge},
        {"bzip2 on 8 workers", Parallel, TCompression::Bzip2, bzip2, TDecompressStatus::TooLarge},
        {"xz, 64 MiB dictionary", Serial, TCompression::Xz, TestArchives::XzOfZeros(GiB, 64u << 20),
         TDecompressStatus::TooLarge},
        {"xz, 256 MiB dictionary", Serial, TCompression::Xz,
         TestArchives::XzOfZeros(GiB, 256u << 20), TDecompressStatus::NoMemory},
        {"zstd, 128 MiB window", Serial, TCompression::Zstd, TestArchives::ZstdOfZeros(GiB, 27),
         TDecompressStatus::TooLarge},
        {"zstd, 256 MiB window", Serial, TCompression::Zstd, TestArchives::ZstdOfZeros(GiB, 28),
         TDecompressStatus::NoMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString in = Path(c.way == Gzip ? "in.gz" : "in");
        WriteBytes(in, QByteArray::fromStdString(c.archive));
        TDecompressResult r;
        const long growth = PeakGrowthMiB([&] {
            if (c.way == Gzip) {
                const TGUnZipResult g = GUnZipFile(in, dir.path(), DefaultBufferSize, {}, Limit);
                r.Status = g.Outcome == TGUnZipOutcome::TooLarge ? TDecompressStatus::TooLarge
                                                                 : TDecompressStatus::Ok;
                r.Written = g.BytesWritten;
                return;
            }
            std::optional<TDecompressResult> parallel;
            if (c.way == Parallel)
                parallel = UncompressBzip2InParallel(in, Path("out"), Limit, 8);
            r = parallel ? *parallel : UncompressFile(c.kind, in, Path("out"), Limit);
        });
        EXPECT_EQ(r.Status, c.Status) << r.Text().toStdString();
        EXPECT_LE(r.Written, Limit);
        EXPECT_FALSE(r.Text().isEmpty());
        EXPECT_EQ(Entries(), QStringList{QFileInfo(in).fileName()});
        EXPECT_LT(growth, 200) << "MiB";
        QFile::remove(in);
    }
}

TEST_F(FileToolsTest, Bzip2StreamOnDevicesKeepsWhatWasWrittenBeforeTheCut) {
    const QByteArray text = SampleText(20000); // several bzip2 blocks of 900 kB
    const QByteArray packed = Compress(TCompression::Bzip2, text);
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
TEST_F(FileToolsTest, Bzip2BlocksDecodedInParallelGiveTheSerialResult) {
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
TEST_F(FileToolsTest, Bzip2LevelDigitIsJudgedAlikeByBothDecoders) {
    const QByteArray text = SampleText(20000); // two blocks at level 9, twelve at level 1
    auto relabel = [](QByteArray bzip2, char digit) {
        bzip2[3] = digit;
        return bzip2;
    };
    const QByteArray nine = Bzip2(text, 9), one = Bzip2(text, 1);
    struct Case {
        const char* what;
        QByteArray input;
        bool ok;
    };
    const Case cases[] = {
        {"level 9 relabelled 1", relabel(nine, '1'), false},
        {"level 9 relabelled 8", relabel(nine, '8'), false},
        {"second stream relabelled", one + relabel(nine, '5'), false},
        {"level 1 relabelled 9", relabel(one, '9'), true},
        {"level 1 relabelled 2", relabel(one, '2'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("in"), c.input);
        QFile source(Path("in"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QBuffer serialOut;
        serialOut.open(QIODevice::WriteOnly);
        const TDecompressResult serial = UncompressStream(TCompression::Bzip2, source, serialOut);
        EXPECT_EQ(serial.Status, c.ok ? TDecompressStatus::Ok : TDecompressStatus::DataError);
        for (unsigned workers : {2u, 3u}) {
            QFile::remove(Path("out"));
            const std::optional<TDecompressResult> parallel = UncompressBzip2InParallel(
                Path("in"), Path("out"), SafeFiles::MaxIndexSize, workers);
            if (!parallel)
                continue; // left to the serial decoder
            EXPECT_EQ(parallel->Status, serial.Status) << workers;
            EXPECT_EQ(ReadBytes(Path("out")), c.ok ? serialOut.data() : Missing) << workers;
        }
    }
}

TEST_F(FileToolsTest, Bzip2ParallelDecodingLeavesAnyDoubtToTheSerialDecoder) {
    const QByteArray text = SampleText(20000);
    const QByteArray good = Bzip2(text, 1);
    QByteArray corrupt = good;
    for (int i = good.size() / 2; i < good.size() / 2 + 8; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x10);
    struct Case {
        const char* what;
        QByteArray input;
        unsigned workers;
    };
    const Case cases[] = {
        {"corrupt block", corrupt, 2},
        {"cut short", good.left(good.size() - 10), 2},
        {"one block only", Bzip2("Package: a\n", 9), 2},
        {"not bzip2", text, 2},
        {"one worker", good, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("in"), c.input);
        WriteBytes(Path("out"), "previous");
        EXPECT_FALSE(
            UncompressBzip2InParallel(Path("in"), Path("out"), SafeFiles::MaxIndexSize, c.workers)
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
