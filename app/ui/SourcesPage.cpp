#include "app/ui/SourcesPage.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>

namespace {
constexpr int LineHeight = 17;
}

TSourcesPage::TSourcesPage(QWidget* parent) : TStripPage(parent) {
    setObjectName(QStringLiteral("tabSources"));

    QGroupBox* grpSources = MakeGroup(QStringLiteral("grpSources"), QStringLiteral(" Источники "));

    lstSources_ = new QListWidget(grpSources);
    lstSources_->setObjectName(QStringLiteral("lstSources"));
    lstSources_->setGeometry(12, 20, 549, 255);
    lstSources_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstSources_->setUniformItemSizes(true);
    // A long address is cut with "…"; its item's tooltip holds all of it.
    lstSources_->setTextElideMode(Qt::ElideRight);

    // The line under the list: what the last refresh did.
    lblSrcStatus_ = new QLabel(grpSources);
    lblSrcStatus_->setObjectName(QStringLiteral("lblSrcStatus"));
    lblSrcStatus_->setGeometry(12, 277, 549, 17);

    txtSource_ = new QLineEdit(grpSources);
    txtSource_->setObjectName(QStringLiteral("txtSource"));
    txtSource_->setGeometry(12, 304, 433, 22);

    srcApply_ =
        MakeToolButton(grpSources, QStringLiteral("btnSrcApply"), QStringLiteral("imgSrcApply"),
                       {454, 297}, 36, QStringLiteral("Применить"));
    srcAdd_ = MakeToolButton(grpSources, QStringLiteral("btnSrcAdd"), QStringLiteral("imgSrcAdd"),
                             {490, 297}, 36, QStringLiteral("Добавить"));
    srcDelete_ =
        MakeToolButton(grpSources, QStringLiteral("btnSrcDelete"), QStringLiteral("imgSrcDelete"),
                       {526, 297}, 36, QStringLiteral("Удалить"));

    srcRefresh_ =
        MakeToolButton(this, QStringLiteral("btnSrcRefresh"), QStringLiteral("imgSrcRefresh"),
                       {14, 350}, 36, QStringLiteral("Обновить выбранные источники"));
    SetStartButton(srcRefresh_);
    QWidget* strip = MakeStrip(QStringLiteral("prSrc"), QStringLiteral("btnSrcStop"),
                               QStringLiteral("imgSrcStop"));

    setTabOrder(lstSources_, txtSource_);
    setTabOrder(txtSource_, srcApply_.Btn);
    setTabOrder(srcApply_.Btn, srcAdd_.Btn);
    setTabOrder(srcAdd_.Btn, srcDelete_.Btn);
    setTabOrder(srcDelete_.Btn, srcRefresh_.Btn);
    setTabOrder(srcRefresh_.Btn, strip);

    // The list's real selection is the model's: a Ctrl+click on the selected
    // row or a click below the last one clears both.
    connect(lstSources_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TSourcesPage::OnSelectionChanged);
    // Every click mirrors the selected entry, also a click on the row that is
    // already selected.
    connect(lstSources_, &QListWidget::clicked, this, [this] {
        if (!updating_)
            lstSourcesClick();
    });
    // The Delete key does what the delete button does, question included.
    lstSources_->installEventFilter(new TEventHook(lstSources_, [this](QObject*, QEvent* e) {
        if (e->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(e)->key() != Qt::Key_Delete)
            return false;
        btnSrcDeleteClick();
        return true;
    }));
    connect(lstSources_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (updating_)
            return;
        const int row = lstSources_->row(item);
        if (row >= 0 && row < sources_.Count())
            sources_.SetChecked(row, item->checkState() == Qt::Checked);
    });
    connect(srcApply_.Btn, &QToolButton::clicked, this, &TSourcesPage::btnSrcApplyClick);
    connect(srcAdd_.Btn, &QToolButton::clicked, this, &TSourcesPage::btnSrcAddClick);
    connect(srcDelete_.Btn, &QToolButton::clicked, this, &TSourcesPage::btnSrcDeleteClick);
    connect(srcRefresh_.Btn, &QToolButton::clicked, this, &TSourcesPage::refreshClicked);
}

void TSourcesPage::LoadPictures() {
    LoadPNG(QStringLiteral("REFRESH"), srcRefresh_.Img);
    LoadPNG(QStringLiteral("ADD"), srcAdd_.Img);
    LoadPNG(QStringLiteral("CHECK"), srcApply_.Img);
    LoadPNG(QStringLiteral("DELETE"), srcDelete_.Img);
    LoadStripPictures();
}

void TSourcesPage::LoadSources(const QString& folder) {
    sources_.LoadSources(folder);
    SyncFromModel();
}

void TSourcesPage::AddNewFromStore(const QString& folder, const QSet<QString>& known) {
    sources_.AddNewFromStore(folder, known);
    SyncFromModel();
}

QString TSourcesPage::ShowRefreshOutcomes(const std::vector<TSourceOutcome>& outcomes,
                                          bool stopped) {
    int stored = 0;
    for (const TSourceOutcome& o : outcomes) {
        QString text = o.Address;
        if (!o.MovedTo.isEmpty() && o.Entry < sources_.Count() && sources_.Text(o.Entry) == text) {
            failures_.remove(text);
            text = o.MovedTo;
            sources_.SetText(o.Entry, text);
        }
        // A source cut short by Stop did not fail: it keeps its mark as it was.
        if (o.Outcome) {
            ++stored;
            failures_.remove(text);
        } else if (!stopped || !o.Outcome.Reason.endsWith(QStringLiteral("остановлено"))) {
            failures_.insert(text, o.Outcome.Reason);
        }
    }
    QString summary;
    if (!outcomes.empty()) {
        summary = QStringLiteral("Обновлено %1 из %2 источников").arg(stored).arg(outcomes.size());
        if (stored < int(outcomes.size()))
            summary += QStringLiteral(" (причины — в подсказках отмеченных строк)");
        if (stopped)
            summary += QStringLiteral(", обновление остановлено");
    }
    lblSrcStatus_->setText(summary);
    SyncFromModel();
    return summary;
}

void TSourcesPage::AppendItem(const TSourceEntry& entry) {
    auto* item = new QListWidgetItem(entry.Text);
    item->setToolTip(entry.Text);
    if (const auto failed = failures_.constFind(entry.Text); failed != failures_.constEnd()) {
        item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setToolTip(QStringLiteral("Не обновлён: ") + failed.value());
    }
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(entry.Checked ? Qt::Checked : Qt::Unchecked);
    item->setSizeHint(QSize(0, LineHeight));
    lstSources_->addItem(item);
}

void TSourcesPage::SyncFromModel() {
    updating_ = true;
    lstSources_->clear();
    for (const TSourceEntry& entry : sources_.Entries())
        AppendItem(entry);
    ShowSelection();
    updating_ = false;
}

void TSourcesPage::ShowSelection() {
    const int selected = sources_.Selected();
    if (selected < 0) {
        lstSources_->setCurrentRow(-1);
        lstSources_->clearSelection();
    } else {
        lstSources_->setCurrentRow(selected);
        // The field always shows the entry that "Применить" would change.
        txtSource_->setText(sources_.Text(selected));
    }
}

void TSourcesPage::SelectEntry(int index) {
    sources_.Select(index);
    updating_ = true;
    ShowSelection();
    updating_ = false;
}

void TSourcesPage::OnSelectionChanged() {
    if (updating_)
        return;
    const QModelIndexList rows = lstSources_->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.first().row();
    sources_.Select(row);
    if (row >= 0)
        lstSourcesClick(); // a move with the arrow keys mirrors the entry too
}

void TSourcesPage::lstSourcesClick() {
    const int selected = sources_.Selected();
    if (selected >= 0)
        txtSource_->setText(sources_.Text(selected));
}

void TSourcesPage::Refuse(const QString& action, const QString& reason) {
    if (ShowError)
        ShowError(action + reason);
}

void TSourcesPage::btnSrcApplyClick() {
    const int selected = sources_.Selected();
    if (selected < 0)
        return;
    sources_.SetArchitecture(Architecture ? Architecture() : QString());
    if (const TOutcome applied = sources_.Apply(txtSource_->text()); !applied) {
        Refuse(QStringLiteral("Источник не изменён: "), applied.Reason);
        return;
    }
    updating_ = true;
    lstSources_->item(selected)->setText(sources_.Text(selected));
    lstSources_->item(selected)->setToolTip(sources_.Text(selected));
    txtSource_->setText(sources_.Text(selected));
    updating_ = false;
}

void TSourcesPage::btnSrcAddClick() {
    QString reason;
    sources_.SetArchitecture(Architecture ? Architecture() : QString());
    const TSourceList::TAddResult result = sources_.Add(txtSource_->text(), &reason);
    if (result == TSourceList::TAddResult::Refused) {
        Refuse(QStringLiteral("Источник не добавлен: "), reason);
        return;
    }
    // The new entry (or the one already there, perhaps moved to https) is
    // selected and its address shown as it will be fetched.
    SyncFromModel();
}

void TSourcesPage::btnSrcDeleteClick() {
    const int selected = sources_.Selected();
    if (selected < 0)
        return;
    const QString question =
        QStringLiteral("Удалить источник ") + sources_.Text(selected) + QStringLiteral("?");
    if (!Confirm || !Confirm(question))
        return;
    if (!sources_.Remove(selected))
        return;
    updating_ = true;
    delete lstSources_->takeItem(selected);
    ShowSelection();
    updating_ = false;
}
