#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The list of sources (repository addresses) with a check mark each. It exists
// only in memory: it is rebuilt from the index store at start-up, and only the
// check marks survive a restart (through the settings).
struct SourceEntry {
    QString Text;
    bool Checked = true;
};

class SourceList {
public:
    // Rebuilds the list from the index files of Folder, every entry checked.
    void LoadSources(const QString& folder);

    int Count() const { return static_cast<int>(entries_.size()); }
    const QString& Text(int i) const { return entries_[static_cast<size_t>(i)].Text; }
    bool Checked(int i) const { return entries_[static_cast<size_t>(i)].Checked; }
    void SetChecked(int i, bool checked) { entries_[static_cast<size_t>(i)].Checked = checked; }
    const std::vector<SourceEntry>& Entries() const { return entries_; }

    // Selected entry, or -1 for none.
    int Selected() const { return selected_; }
    void Select(int index); // out of range selects nothing

    // Replaces the selected entry's text exactly as typed. False with no selection.
    bool Apply(const QString& editText);

    enum class AddResult { Added, SelectedExisting };
    // Normalises the typed text and appends it checked, or selects the first
    // entry equal to it without regard to letter case.
    AddResult Add(const QString& editText);

    // "repo.example.org" -> "http://repo.example.org/Packages". A typed
    // "https://" scheme becomes "http://" (the refresh follows the server's
    // redirect), instead of ending up as "http://https://...". Blanks around the
    // typed text are dropped first.
    static QString NormaliseAddress(const QString& typed);

    // Removes the entry at Index (the selection is cleared). False when out of range.
    bool Remove(int index);

    // Appends an entry (used by LoadSources and tests).
    void Append(const QString& text, bool checked = true);
    void Clear();

    // Check marks as the settings keep them: every entry checked, then for each
    // value the first entry equal to it without regard to letter case unchecked.
    void ApplyDisabled(const QStringList& values);
    // The texts of the unchecked entries in list order.
    QStringList DisabledValues() const;

private:
    std::vector<SourceEntry> entries_;
    int selected_ = -1;
};
