#include "catalogue/CaptionOrder.h"

#include <QLocale>

#include <algorithm>
#include <numeric>

namespace CaptionOrder {

QCollator MakeCollator(Qt::CaseSensitivity sensitivity) {
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(sensitivity);
    collator.setNumericMode(false);
    collator.setIgnorePunctuation(false);
    return collator;
}

namespace {

// A sort key is computed once per text, then keys are compared as bytes: far
// cheaper than a full collation for each of the n log n comparisons.
std::vector<std::size_t> SortedOrder(const std::vector<QString>& texts, const QCollator& collator) {
    std::vector<QCollatorSortKey> keys;
    keys.reserve(texts.size());
    for (const QString& t : texts)
        keys.push_back(collator.sortKey(t));
    std::vector<std::size_t> order(texts.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a].compare(keys[b]) < 0; });
    return order;
}

} // namespace

void Sort(PackageRows& rows) {
    if (rows.size() < 2)
        return;
    std::vector<QString> captions;
    captions.reserve(rows.size());
    for (const PackageRow& row : rows)
        captions.push_back(QString::fromUtf8(row.Caption.data(), qsizetype(row.Caption.size())));
    const std::vector<std::size_t> order = SortedOrder(captions, MakeCollator(Qt::CaseSensitive));
    PackageRows sorted;
    sorted.reserve(rows.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(rows[i]));
    rows.swap(sorted);
}

void SortCaseFree(std::vector<std::string>& texts) {
    if (texts.size() < 2)
        return;
    std::vector<QString> decoded;
    decoded.reserve(texts.size());
    for (const std::string& t : texts)
        decoded.push_back(QString::fromUtf8(t.data(), qsizetype(t.size())));
    const std::vector<std::size_t> order = SortedOrder(decoded, MakeCollator(Qt::CaseInsensitive));
    std::vector<std::string> sorted;
    sorted.reserve(texts.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(texts[i]));
    texts.swap(sorted);
}

} // namespace CaptionOrder
