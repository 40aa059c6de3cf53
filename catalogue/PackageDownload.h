#pragma once

#include "base/LongOperation.h"
#include "base/Outcome.h"
#include "base/SafeFiles.h"
#include "catalogue/PackageRow.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The download of the marked packages: each is fetched into "download.deb" in
// the working folder, checked against its index (size and hash), stored in the
// local package cache, its state updated in the list and in the saved list,
// and copied to the phone as the settings ask. The window lends it the list
// and the phone (TDownloadView); everything else is here.

class THTTPGet;

// What the details panel shows for the row just selected.
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
    // Selects the row, shows its details and scrolls it into view. False when
    // its stanza was not found (the details are hidden).
    virtual bool ShowRow(int row, TShownPackage& shown) = 0;
    virtual void SetMarked(int row, bool marked) = 0;
    virtual void SetState(int row, int state) = 0;
    // The two copy options, read when a package needs them.
    virtual bool PutDebs() const = 0;
    virtual bool PutAutoInstall() const = 0;
    // Uploads LocalFile (a package of the local cache) to RemotePath.
    virtual bool PhonePut(const QString& localFile, const std::string& remotePath) = 0;
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

namespace PackageDownload {

inline constexpr const char* ScratchName = "download.deb";

} // namespace PackageDownload

class TPackageDownload {
public:
    struct TFolders {
        QString WorkDir;
        QString ArchivesDir;
        QString CacheFile; // the saved list
    };

    // Http is the component the packages come through (binary data only: an
    // answer without a length fails); Report gets the busy state and the
    // current file's progress.
    TPackageDownload(TDownloadView& view, THTTPGet& http, TOperationReport& report, TStopFlag& stop,
                     TFolders folders);

    // The whole run over the marked rows, in list order. The caller brackets
    // it as a long operation (the stop flag cleared when it starts); a raise
    // of the flag ends the transfer under way at once. A row keeps its mark
    // unless its package ended stored; every package that failed is named
    // with its reason at the end, so a second run retries exactly those, and
    // so is every copy to the phone that did not arrive.
    void Run();

private:
    // Fetches Address into "download.deb"; true when a non-empty file arrived.
    // A body over MaxSize bytes stops there and leaves no file.
    bool GetFile(const std::string& address, std::int64_t maxSize);
    TOutcome DownloadRow(int row);
    void CopyToPhone(const std::string& localName);
    void RemoveScratch();
    // Why the last transfer failed, in words a person can read.
    QString TransferFailure() const;

    TDownloadView& view_;
    THTTPGet& http_;
    TOperationReport& report_;
    TStopFlag& stop_;
    TFolders folders_;
    QString scratch_;
    TSavedStates states_;
    QStringList unsent_; // the phone paths a copy did not reach
};
