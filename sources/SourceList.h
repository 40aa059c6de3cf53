#pragma once

#include "base/Outcome.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

// The list of sources (repository addresses) with a check mark each, in the
// order they were added. The settings keep it; the list rebuilt from the index
// store stands in when they have none. Beside it the list remembers which
// stored indexes belong to "https://" sources, since the index names carry no
// scheme.
struct TSourceEntry {
    QString Text;
    bool Checked = true;
};

class TSourceList {
public:
    // Rebuilds the list from the index files of Folder, every entry checked:
    // one entry per repository (the phone's flat form preferred), each under
    // the scheme remembered for its index.
    void LoadSources(const QString& folder);
    // Appends, checked, the index files of Folder that are not in Known and
    // whose repository is not listed yet (the sources a copy from the phone
    // brought). Returns how many were added.
    int AddNewFromStore(const QString& folder, const QSet<QString>& known);

    int Count() const { return static_cast<int>(entries_.size()); }
    const QString& Text(int i) const { return entries_[static_cast<size_t>(i)].Text; }
    bool Checked(int i) const { return entries_[static_cast<size_t>(i)].Checked; }
    void SetChecked(int i, bool checked) { entries_[static_cast<size_t>(i)].Checked = checked; }
    const std::vector<TSourceEntry>& Entries() const { return entries_; }

    // Selected entry, or -1 for none.
    int Selected() const { return selected_; }
    void Select(int index); // out of range selects nothing

    // Replaces the selected entry's text with the address the edit text makes
    // (as Add reads it); the entry keeps its place and check mark. Refused,
    // with the reason, with no selection, for text that is no address or
    // makes several, and for a repository another entry already has.
    TOutcome Apply(const QString& editText);

    enum class TAddResult { Added, SelectedExisting, Refused };
    // Turns the typed text into index addresses (SourceAddress::FromTyped) and
    // appends each new one checked, selecting the first; with none new, the
    // first entry of the same repository is selected (an "https://" typed
    // for it moves it to https). Refused: Reason (when given) says why.
    TAddResult Add(const QString& editText, QString* reason = nullptr);

    // The phone's architecture used for "dists" addresses.
    void SetArchitecture(const QString& architecture) { architecture_ = architecture; }

    // Replaces an entry's text (a refresh that was redirected to https).
    void SetText(int index, const QString& text);

    // Removes the entry at Index (the selection is cleared). False when out of range.
    bool Remove(int index);

    // Appends an entry (used by LoadSources and tests).
    void Append(const QString& text, bool checked = true);
    void Clear();
    // Replaces the whole list (the one the settings kept).
    void Assign(const QStringList& texts);

    // The index of the first entry of the same repository as Address, or -1.
    int FindRepository(const QString& address) const;

    // Check marks as the settings keep them: every entry checked, then for each
    // value the first entry equal to it without regard to letter case unchecked.
    void ApplyDisabled(const QStringList& values);
    // The texts of the unchecked entries in list order.
    QStringList DisabledValues() const;
    QStringList Texts() const;

    // The scheme memory, by index file name.
    bool IsHttps(const QString& indexName) const { return https_.contains(indexName); }
    // Remembers the scheme of Address for its index file name.
    void NoteScheme(const QString& address);
    QStringList HttpsNames() const;
    // Adds to the memory, and moves the listed "http://" entries of those
    // names to https.
    void RememberHttps(const QStringList& names);

private:
    std::vector<TSourceEntry> entries_;
    int selected_ = -1;
    QString architecture_;
    QSet<QString> https_;
};
