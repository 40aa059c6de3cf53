#include "sources/SourceList.h"

#include "sources/IndexStore.h"

#include <QHash>

void SourceList::LoadSources(const QString& folder) {
    Clear();
    for (const QString& name : IndexStore::ListIndexFiles(folder))
        Append(IndexStore::IndexNameToAddress(name), true);
}

void SourceList::Select(int index) {
    selected_ = index >= 0 && index < Count() ? index : -1;
}

bool SourceList::Apply(const QString& editText) {
    if (selected_ < 0 || selected_ >= Count())
        return false;
    entries_[static_cast<size_t>(selected_)].Text = editText;
    return true;
}

QString SourceList::NormaliseAddress(const QString& typed) {
    // Blanks around a pasted address would end up inside the request URL.
    const QString text = typed.trimmed();
    const QString lower = text.toLower();
    const QString http = QStringLiteral("http://");
    const QString https = QStringLiteral("https://");
    QString result;
    if (lower.startsWith(https))
        result = http + text.mid(https.size());
    else if (!lower.startsWith(http))
        result = http + text;
    else
        result = text;
    if (!lower.endsWith(QStringLiteral("/packages")))
        result += QStringLiteral("/Packages");
    return result;
}

SourceList::AddResult SourceList::Add(const QString& editText) {
    const QString address = NormaliseAddress(editText);
    for (int i = 0; i < Count(); ++i) {
        if (QString::compare(Text(i), address, Qt::CaseInsensitive) == 0) {
            selected_ = i;
            return AddResult::SelectedExisting;
        }
    }
    Append(address, true);
    return AddResult::Added;
}

bool SourceList::Remove(int index) {
    if (index < 0 || index >= Count())
        return false;
    entries_.erase(entries_.begin() + index);
    selected_ = -1;
    return true;
}

void SourceList::Append(const QString& text, bool checked) {
    entries_.push_back(SourceEntry{text, checked});
}

void SourceList::Clear() {
    entries_.clear();
    selected_ = -1;
}

void SourceList::ApplyDisabled(const QStringList& values) {
    QHash<QString, int> firstByText;
    for (int i = Count() - 1; i >= 0; --i)
        firstByText.insert(Text(i).toCaseFolded(), i); // the earliest entry wins
    for (SourceEntry& e : entries_)
        e.Checked = true;
    for (const QString& value : values) {
        const auto it = firstByText.constFind(value.toCaseFolded());
        if (it != firstByText.constEnd())
            entries_[static_cast<size_t>(it.value())].Checked = false;
    }
}

QStringList SourceList::DisabledValues() const {
    QStringList values;
    for (const SourceEntry& e : entries_)
        if (!e.Checked)
            values.append(e.Text);
    return values;
}
