// gzip: the header read in pieces, the stored name, the trailer, and the
// worker thread. Every failure must leave the previous output as it was.

#include "DecompressFixture.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QThread>

#include <sys/stat.h>

namespace {

using TestArchives::TGzipParts;

QByteArray Gzip(const QByteArray& data, const TGzipParts& parts = {}) {
    return QByteArray::fromStdString(TestArchives::Gzip(data.toStdString(), parts));
}

using GzipTest = DecompressTest;

TEST(GzipHeaderTest, ReadWholeOrInPiecesGivesTheSameHeader) {
    const QByteArray file = Gzip("data", {.Name = "Packages",
                                          .Comment = "made by hand",
                                          .Extra = std::string(300, 'x'),
                                          .HeaderCrc = true});
    const std::size_t length = 10 + 2 + 300 + 9 + 13 + 2;
    // Every split point, including inside the extra length and the header
    // CRC; at 0 the header is read whole.
    for (std::size_t cut = 0; cut <= length; ++cut) {
        TGzipHeaderReader reader;
        EXPECT_EQ(reader.Feed(std::string_view(file.data(), cut)), cut);
        EXPECT_EQ(reader.Feed(std::string_view(file.data() + cut, std::size_t(file.size()) - cut)),
                  length - cut);
        ASSERT_EQ(reader.Status(), TGzipHeaderStatus::Complete) << cut;
        EXPECT_EQ(reader.Header().StoredName, "Packages") << cut;
        EXPECT_EQ(reader.Header().Length, length);
        EXPECT_EQ(reader.Header().Flags,
                  GzipFlagExtra | GzipFlagName | GzipFlagComment | GzipFlagHeaderCrc);
    }
    auto read = [](std::string_view bytes) {
        TGzipHeaderReader reader;
        reader.Feed(bytes);
        return reader;
    };
    EXPECT_EQ(read(std::string_view(file.data(), length - 1)).Status(),
              TGzipHeaderStatus::NeedMore);
    EXPECT_EQ(read("\x1E").Status(), TGzipHeaderStatus::NotGzip);
    EXPECT_EQ(read("\x1F\x8C").Status(), TGzipHeaderStatus::NotGzip);
}

// A plain stored name ("Packages") is used: see the worker test below.
TEST_F(GzipTest, StoredNameThatIsNotPlainIsIgnored) {
    const QByteArray text = SampleText(50);
    const QString work = Path("work");
    for (const QByteArray& stored :
         {QByteArray(), QByteArray(""), QByteArray("."), QByteArray(".."), QByteArray("../x"),
          QByteArray("a/b"), QByteArray("a\\b"), QByteArray("/etc/passwd"), QByteArray(300, 'n')}) {
        SCOPED_TRACE(stored.toStdString());
        WriteBytes(work + "/download.txt.gz",
                   Gzip(text, {.Name = stored.isNull() ? nullptr : stored.constData()}));
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

TEST_F(GzipTest, FailuresLeaveThePreviousOutputAsItWas) {
    const QByteArray text = SampleText();
    const QByteArray good = Gzip(text);
    QByteArray corrupt = good, notGzip = good, badCrc = good, badSize = good;
    for (int i = 30; i < 70; ++i) // inside the deflate data, which starts at 10
        corrupt[i] = char(corrupt[i] ^ 0x5A);
    notGzip[1] = 'x';
    badCrc[good.size() - 8] = char(badCrc[good.size() - 8] ^ 1); // the trailer: CRC, size
    badSize[good.size() - 4] = char(badSize[good.size() - 4] ^ 1);
    const std::string comment(100, 'c');
    const QByteArray zeros(4 << 20, '\0'); // compresses to a few KiB
    struct TCase {
        const char* What;
        QByteArray Bytes;
        TGUnZipOutcome Outcome;
        quint64 Limit = SafeFiles::MaxIndexSize;
    };
    const TCase cases[] = {
        {"empty file", QByteArray(), TGUnZipOutcome::NotGzip},
        {"one magic byte", QByteArray("\x1F"), TGUnZipOutcome::NotGzip},
        {"no magic", notGzip, TGUnZipOutcome::NotGzip},
        {"plain text", SampleText(20), TGUnZipOutcome::NotGzip},
        {"header cut short", Gzip(text, {.Comment = comment.c_str()}).left(60),
         TGUnZipOutcome::InflateError},
        {"corrupt deflate data", corrupt, TGUnZipOutcome::InflateError},
        {"cut in the data", good.left(good.size() / 2), TGUnZipOutcome::InflateError},
        {"cut in the trailer", good.left(good.size() - 3), TGUnZipOutcome::InflateError},
        {"trailer CRC wrong", badCrc, TGUnZipOutcome::TrailerMismatch},
        {"trailer size wrong", badSize, TGUnZipOutcome::TrailerMismatch},
        {"output over the limit", Gzip(zeros), TGUnZipOutcome::TooLarge, quint64(zeros.size()) - 1},
    };
    const QByteArray previous = "previous index\n";
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        WriteBytes(Path("download.txt"), previous);
        WriteBytes(Path("download.txt.gz"), c.Bytes);
        EXPECT_EQ(
            GUnZipFile(Path("download.txt.gz"), dir.path(), DefaultBufferSize, {}, c.Limit).Outcome,
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

TEST_F(GzipTest, NothingToDoIsNotSuccess) {
    EXPECT_EQ(GUnZipFile(Path("absent.gz"), dir.path()).Outcome, TGUnZipOutcome::NoSource);
    WriteBytes(Path("download.txt.gz"), Gzip("abc"));
    EXPECT_EQ(GUnZipFile(Path("download.txt.gz"), QString()).Outcome, TGUnZipOutcome::NoSource);
    EXPECT_EQ(GUnZipFile(dir.path(), dir.path()).Outcome, TGUnZipOutcome::NoSource);
    EXPECT_EQ(GUnZipFile(Path("download.txt.gz"), Path("no/such/folder")).Outcome,
              TGUnZipOutcome::CreateFailed);
    EXPECT_EQ(Entries(), QStringList{"download.txt.gz"});
}

TEST_F(GzipTest, OutputTakesTheSourceTimeAndPermissions) {
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

TEST_F(GzipTest, WorkerHandsCompletionToTheCreatingThread) {
    const QByteArray text = SampleText(300);
    // Only the first member counts; a tiny block size makes it pass through many blocks.
    WriteBytes(Path("download.txt.gz"), Gzip(text, {.Name = "Packages"}) + Gzip("second member\n"));

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

} // namespace
