#pragma once

#include "base/Outcome.h"
#include "base/SafeFiles.h"
#include "base/Workers.h"
#include "net/HTTPTransfer.h"
#include "sources/IndexStore.h"

#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// What fetching one source gave.
struct TFetchedIndex {
    TOutcome Outcome;       // ok: Prepared holds the new index, or the stored one is Unchanged
    bool Unchanged = false; // a 304: the stored index is still the server's
    // The new index, checked against the index limits and written to disk
    // under a temporary name beside its stored one: Commit puts it in place.
    // Dropped uncommitted, it leaves nothing behind.
    std::unique_ptr<SafeFiles::TAtomicFile> Prepared;
    // Its http requests were sent on to the same host and path under https:
    // the address to ask from now on (empty: none).
    QString MovedTo;
    TIndexValidators Validators; // of the answer that brought the index
};

// One source's attempts, run to their end on the calling (worker) thread:
// "<address>.gz", and only when the answer is a web page (or not of the
// format asked for) "<address>.bz2", then the plain "<address>", then ".xz"
// and ".zst"; an archive is decompressed, and the index is prepared for the
// store (Prepared). What it unpacks lies in a private folder of the working
// folder (".unpack-XXXXXX", which start-up removes after a crash), so that
// fetches of several sources never meet and a name stored in an archive can
// replace nothing; the prepared index is a temporary file of the store,
// which start-up removes too.
//
// With the validators of the stored index, the attempt that brought it asks
// conditionally; a 304 ends the source at once.
class TSourceFetch {
public:
    TSourceFetch(QString address, QString workDir, QString storeDir, THTTPRequest base,
                 std::optional<TIndexValidators> stored);

    // Called on the fetching thread whenever the progress below changed.
    std::function<void()> OnChange;

    void Run();
    // Ends the fetch at once (also its transfer under way); from any thread.
    // A decompression or preparation under way runs to its end, as the
    // index may still be kept.
    void Stop();
    // Stop for a fetch whose index will not be kept: a preparation under way
    // ends too.
    void Abandon();

    // From any thread: the attempt under way (0 for the first) and its
    // transfer's announced length and bytes received.
    int Attempt() const { return attempt_.load(); }
    std::int64_t TotalSize() const { return total_.load(); }
    std::int64_t Readed() const { return readed_.load(); }
    // From any thread: no transfer of this fetch is under way or to come.
    bool TransfersOver() const { return transfersOver_.load(); }

    // Valid once Run has returned.
    TFetchedIndex& Result() { return result_; }

private:
    struct TAttempt;
    class TLog;
    enum class TKind { Gzip, Bzip2, Xz, Zstd };
    bool Try(const TAttempt& attempt, TLog& log);
    THTTPResult Transfer(const TAttempt& attempt, const QString& url, const QString& file);
    QString AnswerReason(const THTTPResult& answer, bool webPage, const QString& file) const;
    QString Unpack(TKind kind, const QString& archive);
    void Prepare(const QString& unpacked);
    QString In(const char* name) const;

    QString address_;
    QString workDir_;
    QString storeDir_;
    THTTPRequest base_;
    std::optional<TIndexValidators> stored_;
    std::unique_ptr<QTemporaryDir> dir_; // made when the fetch runs, gone once it ends
    std::atomic<int> attempt_{0};
    std::atomic<std::int64_t> total_{0}, readed_{0};
    std::mutex mutex_; // guards transfer_ and stopped_ against Stop
    THTTPTransfer* transfer_ = nullptr;
    bool stopped_ = false;
    std::atomic<bool> abandoned_{false}, transfersOver_{false};
    TFetchedIndex result_;
};

// Fetches the sources of a refresh several at a time and hands each over
// when the walk's turn comes to it.
//
// At most 8 transfers at once and 2 to one host (one server: host and
// port); a fetch that is past its last transfer (decompressing, preparing
// its index) holds no connection and counts for neither. apt keeps one connection
// per host and pipelines its requests (Acquire::Queue-Mode "host"), so its
// hosts are asked side by side; the phone's managers do the same. Our
// requests are one per connection (HTTP/1.0), so a second connection to a
// host stands in for the pipelining, and no more: small repository hosts
// are often one modest server, and a refresh should not look like a flood.
// Eight in all keeps the rest of the machine within bounds. Decompression
// and preparation run on the fetches' own threads, at most 12 fetches at
// once: past that, more of them would only share the same few cores (and
// the memory an xz or bzip2 decoder takes).
//
// Everything but the workers runs on the thread that made the fetcher (the
// window's): jobs are started there, in list order, as the limits allow.
class TRefreshFetcher {
public:
    static constexpr int MaxTransfers = 8;
    static constexpr int MaxPerHost = 2;
    static constexpr int MaxFetches = MaxTransfers + MaxTransfers / 2;
    // Indexes fetched ahead of the walk wait in the store, under temporary
    // names, for their turn. With the fetches under way at most this many,
    // so that one slow source early in a long list cannot make the others
    // fill the disk meanwhile (each costs what its index will cost stored
    // anyway, beside the index it replaces); the source the walk waits for
    // may always start. Three rounds of transfers: a slow first source does
    // not hold up the transfers of the sources after it.
    static constexpr int MaxAhead = 3 * MaxTransfers;

    // Indexes are prepared for StoreDir; validators (when given) make the
    // requests for stored indexes conditional.
    TRefreshFetcher(THTTPRequest base, QString workDir, QString storeDir,
                    const TValidatorStore* validators);
    // Abandons every fetch and waits for its worker; their folders and the
    // indexes prepared and not committed go.
    ~TRefreshFetcher();

    // Adds a source; Key names it in Wait. Fetches start with the first Wait.
    void Add(int key, const QString& address);
    // Waits for Key's fetch (starting it and others as the limits allow),
    // telling Progress its percentage as it changes (0 at each new attempt
    // after the first); handles the window's events meanwhile.
    TFetchedIndex& Wait(int key, const std::function<void(int)>& progress);
    // Ends every fetch at once; those not started never start.
    void StopAll();

private:
    struct TJob;
    void StartWhatMay(const TJob* awaited);
    void Changed();

    THTTPRequest base_;
    QString workDir_;
    QString storeDir_;
    const TValidatorStore* validators_;
    std::vector<std::unique_ptr<TJob>> jobs_; // in list order
    bool stopped_ = false;
    std::atomic<bool> changed_{false};
};
