// The window's side of the package download: the walk itself is the
// catalogue core's; these methods connect it to the package list, the details
// panel, the download strip, the two copy options and the phone.
#include "app/ui/PackagesPage.h"
#include "app/ui/SettingsPage.h"
#include "app/ui/TfrmMain.h"
#include "base/Outcome.h"
#include "catalogue/PackageDownload.h"
#include "catalogue/PackageList.h"
#include "net/HTTPGet.h"

namespace {

// The window as the download sees it.
class TWindowDownloadView final : public TDownloadView {
public:
    TWindowDownloadView(TfrmMain& frm, TPackagesPage& page, TSettingsPage& settings)
        : frm_(frm), page_(page), settings_(settings) {}

    int RowCount() const override { return static_cast<int>(page_.Rows().size()); }
    bool IsMarked(int row) const override { return Row(row) && Row(row)->Marked; }
    TPackageKey KeyOf(int row) const override {
        return Row(row) ? TPackageKey::Of(*Row(row)) : TPackageKey();
    }
    bool Describe(int row, TShownPackage& shown) override {
        TDebianInfo info;
        if (!page_.RowDetails(row, info))
            return false;
        // The address is the size label's hint and the size its text, as the
        // panel shows them for the row.
        shown.Address = std::move(info.Filename);
        shown.SizeText = std::move(info.Size);
        shown.LocalName = std::move(info.LocalName);
        shown.Sha256 = std::move(info.SHA256);
        shown.Sha1 = std::move(info.SHA1);
        shown.Md5 = std::move(info.MD5sum);
        return true;
    }
    void ShowRow(int row) override { page_.ShowRowDetails(row); }
    void SetMarked(int row, bool marked) override { page_.SetRowMarked(row, marked); }
    void SetState(int row, int state) override { page_.SetRowState(row, state); }
    // Read at each package: the options stay usable while the download runs.
    bool PutDebs() const override { return settings_.Options().PutDebs; }
    bool PutAutoInstall() const override { return settings_.Options().PutAutoInstall; }
    TOutcome PhonePut(const QString& localFile, const std::string& remotePath) override {
        return frm_.Phone().iPhone_put(localFile, remotePath);
    }
    void Warn(const QString& text) override {
        frm_.ShowError(text); // the dialog's text goes to stderr as well
    }

private:
    const TPackageRow* Row(int row) const {
        const TPackageRows& rows = page_.Rows();
        return row >= 0 && row < static_cast<int>(rows.size())
                   ? &rows[static_cast<std::size_t>(row)]
                   : nullptr;
    }

    TfrmMain& frm_;
    TPackagesPage& page_;
    TSettingsPage& settings_;
};

} // namespace

void TfrmMain::btnPkgDownloadClick() {
    THTTPGet* http = controller_.HTTPGetFile();
    if (!http)
        return;
    // Marks made in other categories are fetched too: the walk goes over
    // every listed row when some marked one is not shown.
    int shownMarks = 0;
    for (const TPackageRow& row : packagesPage_->Rows())
        shownMarks += row.Marked ? 1 : 0;
    if (packagesPage_->MarkedCount() > shownMarks)
        packagesPage_->ShowAllCategories();
    // The Stop button and a close of the window both raise the stop flag; the
    // transfer under way ends when it does.
    TRunner::TRun report(controller_.Runner(), TRunner::TKind::Download);
    TWindowDownloadView view(*this, *packagesPage_, *settingsPage_);
    TPackageDownload download(
        view, *http, report, controller_.Runner().StopFlag(),
        {controller_.Folders().WorkDir, controller_.Folders().ArchivesDir,
         controller_.Folders().ProcDir + QLatin1String(PackageList::FileName)});
    download.Run();
}
