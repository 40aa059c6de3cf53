#pragma once

#include "base/LongOperation.h"
#include "base/Outcome.h"
#include "base/SafeFiles.h"
#include "base/Workers.h"
#include "catalogue/PackageRow.h"
#include "net/HTTPTransfer.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The download of the marked packages: several are fetched at once into a
// private folder of the working folder, and each, in list order, is checked
// against its index (size and hash), stored in the local package cache, its
// state updated in the list and in the saved list, and copied to the phone as
// the settings ask. The window lends it the list and the phone
// (TDownloadView); everything else is here.

class THTTPGet;
class THTTPPool;

// What the details panel shows for a row.
struct TShownPackage {
    std::string Address;   // the hint of the size label: the download address
    std::string SizeText;  // the text of the size label: "Size:" as the index has it
    std::string LocalName; // the package file's name in the local cache
    std::string Sha256, Sha1, Md5;
};

// The window as the download sees it.
class TDownloadView {
public:
    virtual ~TDownloadView() = default;
    virtual int RowCount() const = 0;
    virtual bool IsMarked(int row) const = 0;
    // The build the row stands for.
    virtual TPackageKey KeyOf(int row) const = 0;
    // What the details panel would show for the row, read from its index
    // without touching the window. False when its stanza was not found.
    virtual bool Describe(int row, TShownPackage& shown) = 0;
    // Selects the row, shows its details and scrolls it into view.
    virtual void ShowRow(int row) = 0;
    virtual void SetMarked(int row, bool marked) = 0;
    virtual void SetState(int row, int state) = 0;
    // The two copy options, read when a package needs them.
    virtual bool PutDebs() const = 0;
    virtual bool PutAutoInstall() const = 0;
    // Uploads LocalFile (a package of the local cache) to RemotePath; a
    // failure says why.
    virtual TOutcome PhonePut(const QString& localFile, const std::string& remotePath) = 0;
    // Tells the user, in the window and on stderr, which packages the run
    // refused and why.
    virtual void Warn(const QString& text) = 0;
};

// "$" + state written into every saved row of an identifier, at a cost that
// does not grow with the saved list: the state lines of the identifiers a run
// will touch are found in one pass when it starts, and each update then
// changes those lines in place (a state line keeps its length, so the file is
// never half-written). Whenever that cannot be done safely (the file changed
// under it, a line of another length), the whole file is rewritten atomically
// as before.
class TSavedStates {
public:
    void Index(const QString& cacheFile, const std::vector<TPackageKey>& keys);
    // The state of every saved row of Key's build (as UpdatePackageIcon).
    void Update(const TPackageKey& key, int state);

private:
    struct TLine {
        std::uint64_t Offset = 0;
        std::string Text;
        std::string Version;
        TArchitecture Architecture;
    };
    bool UpdateInPlace(const std::vector<TLine*>& lines, const std::string& text);

    QString cacheFile_;
    std::vector<TPackageKey> keys_;
    bool knowsArchitectures_ = false;
    std::map<std::string, std::vector<TLine>, std::less<>> lines_;
    bool indexed_ = false;
    std::uint64_t device_ = 0, inode_ = 0, size_ = 0;
};

class TPackageDownload {
public:
    // Packages fetched at once, over one pool of connections (a server's
    // connection serves its next package too): four keeps a slow package
    // early in the list from holding up the rest; a phone's own package
    // manager fetches about as many side by side.
    static constexpr int MaxTransfers = 4;
    // The most packages given to the pool and not stored yet, those under
    // way included: twice the transfers, so that the pool has the next ones
    // at hand while the walk waits for a slow one, and the disk holds at
    // most eight packages that are not stored yet.
    static constexpr int MaxAhead = 2 * MaxTransfers;

    struct TFolders {
        QString WorkDir;
        QString ArchivesDir;
        QString CacheFile; // the saved list
    };

    // Http gives the requests' properties (agent, speed limit; the answers
    // must carry a length); Report gets the busy state and the progress of
    // the package whose turn it is.
    TPackageDownload(TDownloadView& view, const THTTPGet& http, TOperationReport& report,
                     TStopFlag& stop, TFolders folders);
    ~TPackageDownload();

    // The whole run over the marked rows, handled in list order while the
    // next ones are already being fetched. The caller brackets it as a long
    // operation (the stop flag cleared when it starts); a raise of the flag
    // ends every transfer at once, and nothing fetched for a row whose turn
    // did not come is kept. A row keeps its mark unless its package ended
    // stored; every package that failed is named with its reason at the end,
    // so a second run retries exactly those, and so is every copy to the
    // phone that did not arrive.
    void Run();

private:
    struct TFetch;
    void Describe(TFetch& fetch, std::size_t index);
    void StartAhead(std::size_t turn);
    void WaitFor(TFetch& fetch);
    void Changed();
    TOutcome DownloadRow(TFetch& fetch);
    TOutcome Store(TFetch& fetch);
    void CopyToPhone(const std::string& localName);

    TDownloadView& view_;
    TOperationReport& report_;
    TStopFlag& stop_;
    TFolders folders_;
    THTTPRequest base_;
    QString folder_;      // the run's private folder ("" when it could not be made)
    QString folderError_; // why not
    THTTPPool* pool_ = nullptr;
    std::vector<std::unique_ptr<TFetch>> fetches_; // the marked rows in list order
    std::atomic<const TFetch*> awaited_{nullptr};
    std::atomic<bool> changed_{false};
    TSavedStates states_;
    Workers::TWorker indexing_; // fills states_ while the first packages arrive
    QStringList unsent_;        // the phone paths a copy did not reach
    bool stored_ = false;       // some package went into the cache
};
