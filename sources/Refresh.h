#pragma once

#include "base/Outcome.h"
#include "sources/SourceList.h"

#include <QString>

#include <cstdint>
#include <vector>

class THTTPGet;
class TRefreshFetcher;
class TStopFlag;
class TValidatorStore;
struct TFetchedIndex;
struct THTTPRequest;
class TOperationReport;

// What the walk did with one source it tried.
struct TSourceOutcome {
    int Entry = 0;    // the source's place in the list given to Walk
    QString Address;  // its text
    TOutcome Outcome; // ok: a new index stored; otherwise why the previous one stays
    // Its http requests were sent on to the same host and path under https:
    // the address to ask from now on (empty: none).
    QString MovedTo;
};

// The refresh of the checked sources: for each, fetch "<address>.gz", and
// only when the answer is a web page "<address>.bz2", then the plain
// "<address>", then "<address>.xz" and "<address>.zst"; decompress it and
// store it as the source's index. Several sources are fetched at once
// (TRefreshFetcher); the walk takes them over in list order. A source whose
// stored index the server confirms unchanged (304) keeps it untouched and
// counts as refreshed, its outcome a success "без изменений".
//
// The stored index is replaced only by a complete, checked index: a corrupt
// or cut-short archive of any kind, a cut-short transfer, a web page or an
// index over the index limits leaves the previous one, and the replacement is
// atomic. Every source that keeps its previous index gets a reason a person
// can read, naming the address and what each attempt met ("http://host/Packages
// — .gz, .bz2 и без сжатия: HTTP 404"); the walk writes it to stderr too.
// Nothing but private folders is ever written in the working folder, so a
// name stored in an archive can neither replace another file there nor leave
// one behind.
//
// What storing an index costs (its check, the copy into the store, the wait
// for the disk) is done by the fetch, ahead of the walk; the walk's turn only
// puts the index in place, retires the source's other names and records its
// validators, in list order. A source the walk does not reach (after a Stop)
// leaves nothing in the store.
class TRefresh {
public:
    // WorkDir, ProcDir and ListsDir end with "/". ListsDir (when given) is
    // where the reference copy of a source stored under a new name follows it.
    TRefresh(THTTPGet& http, TStopFlag& stop, QString workDir, QString procDir,
             TOperationReport& report, QString listsDir = QString());

    // The walk: with no sources nothing happens at all; otherwise the busy
    // state, each entry reported in turn (ItemStarted) and each checked one
    // refreshed, until the end or the stop flag. The progress is the current
    // transfer's; each new attempt of a source starts it at 0. Returns the
    // number of indexes stored; the outcome of every source tried is then in
    // Outcomes(), in list order (a source not checked, or not reached after a
    // stop, has none).
    int Walk(const std::vector<TSourceEntry>& sources);
    const std::vector<TSourceOutcome>& Outcomes() const { return outcomes_; }

    enum class TScratch { MissingOrShort, WebPage, Data };
    // Judges a scratch file: fewer than 128 bytes (or none, or not a plain
    // readable file) is missing or short; a first byte other than CR and LF
    // that is "<" makes a web page; anything else is data.
    static TScratch CheckScratchFile(const QString& path);

    // The source's address under https when the request Asked (of Address,
    // an http source) was answered from Answered, the same host and path
    // under https; empty otherwise.
    static QString HttpsAddress(const QString& address, const QString& asked,
                                const QString& answered);

private:
    THTTPRequest Request() const;
    // Waits for the fetch of Key, its progress shown, a Stop press ending
    // every fetch.
    TFetchedIndex& Fetch(TRefreshFetcher& fetcher, int key);
    // Puts the index a fetch prepared in place (atomically), retires the
    // source's index files under other names (earlier versions' names) and
    // records its validators.
    TOutcome Keep(const QString& address, TFetchedIndex& fetched, TValidatorStore& validators);
    void RemoveScratch() const;
    QString Work(const char* name) const { return workDir_ + QLatin1String(name); }

    THTTPGet& http_;
    TStopFlag& stop_;
    QString workDir_;
    QString procDir_;
    TOperationReport& report_;
    QString listsDir_;
    std::vector<TSourceOutcome> outcomes_;
};
