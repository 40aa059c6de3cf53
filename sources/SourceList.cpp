#include "sources/SourceList.h"

#include "base/Outcome.h"
#include "sources/IndexStore.h"
#include "sources/SourceAddress.h"

#include <QHash>

#include <algorithm>

namespace {

// Of two stored names of one repository, the phone's own form wins ("_._"
// for a flat one), then one without a doubled separator.
int NamePreference(const QString& name) {
    if (name.endsWith(QLatin1String("_._Packages")))
        return 2;
    return name.contains(QLatin1String("__")) ? 0 : 1;
}

} // namespace

void TSourceList::LoadSources(const QString& folder) {
    Clear();
    AddNewFromStore(folder, {});
}

int TSourceList::AddNewFromStore(const QString& folder, const QSet<QString>& known) {
    QHash<QString, int> byKey; // repository -> entry
    for (int i = 0; i < Count(); ++i)
        byKey.insert(IndexStore::SourceKey(Text(i)), -1); // listed already: left alone
    QHash<int, int> preference;
    const int before = Count();
    QStringList refused;
    const QStringList names = IndexStore::ListIndexFiles(folder, &refused);
    for (const QString& why : refused)
        ReportToStderr(QStringLiteral("индекс в \"%1\" пропущен: %2").arg(folder, why));
    for (const QString& name : names) {
        if (known.contains(name))
            continue;
        const QString address = IndexStore::IndexNameToAddress(name, IsHttps(name));
        const QString key = IndexStore::SourceKey(address);
        const auto it = byKey.constFind(key);
        if (it == byKey.constEnd()) {
            byKey.insert(key, Count());
            preference.insert(Count(), NamePreference(name));
            Append(address, true);
        } else if (it.value() >= 0 && NamePreference(name) > preference.value(it.value())) {
            preference.insert(it.value(), NamePreference(name));
            entries_[static_cast<size_t>(it.value())].Text = address;
        }
    }
    return Count() - before;
}

void TSourceList::Select(int index) {
    selected_ = index >= 0 && index < Count() ? index : -1;
}

int TSourceList::FindRepository(const QString& address) const {
    const QString key = IndexStore::SourceKey(address);
    for (int i = 0; i < Count(); ++i)
        if (IndexStore::SourceKey(Text(i)) == key)
            return i;
    return -1;
}

TOutcome TSourceList::Apply(const QString& editText) {
    if (selected_ < 0 || selected_ >= Count())
        return TOutcome::Failure(QStringLiteral("не выбран источник, который нужно изменить"));
    QStringList addresses;
    if (TOutcome parsed = SourceAddress::FromTyped(editText, architecture_, addresses); !parsed)
        return parsed;
    if (addresses.size() != 1)
        return TOutcome::Failure(
            QStringLiteral("строка даёт несколько источников; добавьте их кнопкой «Добавить»"));
    const QString key = IndexStore::SourceKey(addresses.first());
    for (int i = 0; i < Count(); ++i)
        if (i != selected_ && IndexStore::SourceKey(Text(i)) == key)
            return TOutcome::Failure(QStringLiteral("такой источник уже есть: ") + Text(i));
    SetText(selected_, addresses.first());
    return TOutcome::Success();
}

TSourceList::TAddResult TSourceList::Add(const QString& editText, QString* reason) {
    QStringList addresses;
    const TOutcome parsed = SourceAddress::FromTyped(editText, architecture_, addresses);
    if (!parsed) {
        if (reason)
            *reason = parsed.Reason;
        return TAddResult::Refused;
    }
    int firstExisting = -1;
    int firstAdded = -1;
    for (const QString& address : addresses) {
        const int existing = FindRepository(address);
        if (existing < 0) {
            if (firstAdded < 0)
                firstAdded = Count();
            Append(address, true);
            NoteScheme(address);
            continue;
        }
        // Typing the https address of a listed http source moves it to https.
        if (SourceAddress::IsHttps(address) && !SourceAddress::IsHttps(Text(existing)))
            SetText(existing, SourceAddress::WithHttps(Text(existing)));
        if (firstExisting < 0)
            firstExisting = existing;
    }
    selected_ = firstAdded >= 0 ? firstAdded : firstExisting;
    return firstAdded >= 0 ? TAddResult::Added : TAddResult::SelectedExisting;
}

void TSourceList::SetText(int index, const QString& text) {
    if (index < 0 || index >= Count())
        return;
    entries_[static_cast<size_t>(index)].Text = text;
    NoteScheme(text);
}

bool TSourceList::Remove(int index) {
    if (index < 0 || index >= Count())
        return false;
    entries_.erase(entries_.begin() + index);
    selected_ = -1;
    return true;
}

void TSourceList::Append(const QString& text, bool checked) {
    entries_.push_back(TSourceEntry{text, checked});
}

void TSourceList::Clear() {
    entries_.clear();
    selected_ = -1;
}

void TSourceList::Assign(const QStringList& texts) {
    Clear();
    for (const QString& text : texts) {
        Append(text, true);
        if (SourceAddress::IsHttps(text))
            NoteScheme(text);
    }
}

void TSourceList::ApplyDisabled(const QStringList& values) {
    QHash<QString, int> firstByText;
    for (int i = Count() - 1; i >= 0; --i)
        firstByText.insert(Text(i).toCaseFolded(), i); // the earliest entry wins
    for (TSourceEntry& e : entries_)
        e.Checked = true;
    for (const QString& value : values) {
        const auto it = firstByText.constFind(value.toCaseFolded());
        if (it != firstByText.constEnd())
            entries_[static_cast<size_t>(it.value())].Checked = false;
    }
}

QStringList TSourceList::DisabledValues() const {
    QStringList values;
    for (const TSourceEntry& e : entries_)
        if (!e.Checked)
            values.append(e.Text);
    return values;
}

QStringList TSourceList::Texts() const {
    QStringList texts;
    for (const TSourceEntry& e : entries_)
        texts.append(e.Text);
    return texts;
}

void TSourceList::NoteScheme(const QString& address) {
    const QString name = IndexStore::AddressToIndexName(address);
    if (SourceAddress::IsHttps(address))
        https_.insert(name);
    else
        https_.remove(name);
}

QStringList TSourceList::HttpsNames() const {
    QStringList names(https_.begin(), https_.end());
    names.sort();
    return names;
}

void TSourceList::RememberHttps(const QStringList& names) {
    for (const QString& name : names)
        https_.insert(name);
    for (TSourceEntry& e : entries_)
        if (!SourceAddress::IsHttps(e.Text) &&
            https_.contains(IndexStore::AddressToIndexName(e.Text)))
            e.Text = SourceAddress::WithHttps(e.Text);
}
