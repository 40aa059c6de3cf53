#include "control/Runner.h"

namespace {

using TKind = TRunner::TKind;
using TStrip = TRunner::TStrip;

struct TKindRule {
    bool Long;    // bracketed as a long operation
    TStrip Strip; // where its busy state and progress show
};

TKindRule RuleOf(TKind kind) {
    switch (kind) {
    case TKind::Refresh:
        return {true, TStrip::Refresh};
    case TKind::Download:
        return {true, TStrip::Download};
    case TKind::SourceCopy:
        return {true, TStrip::Sync};
    case TKind::ListRefresh:
    case TKind::PackageList:
        return {true, TStrip::None};
    case TKind::PhoneAsk:
    case TKind::LocalDelete:
        break;
    }
    return {false, TStrip::None};
}

} // namespace

bool TRunner::MayStart(TKind kind) const {
    const bool phoneBusy = sourceCopies_ > 0 || listOperations_ > 0;
    switch (kind) {
    case TKind::Refresh:
    case TKind::Download:
        return true; // their start buttons are hidden while anything runs
    case TKind::ListRefresh:
        return listOperations_ == 0;
    case TKind::PhoneAsk:
        return !phoneBusy && !Running();
    case TKind::SourceCopy:
    case TKind::PackageList:
    case TKind::LocalDelete:
        break;
    }
    return !phoneBusy;
}

void TRunner::StopAndHold() {
    held_ = true;
    stop_.Set();
}

void TRunner::Begin() {
    if (running_ == 0 && !held_)
        stop_.Clear();
    ++running_;
}

void TRunner::End() {
    if (running_ > 0)
        --running_;
    if (running_ == 0)
        emit Idle();
}

int* TRunner::CounterOf(TKind kind) {
    switch (kind) {
    case TKind::SourceCopy:
    case TKind::PhoneAsk:
        return &sourceCopies_;
    case TKind::ListRefresh:
    case TKind::PackageList:
    case TKind::LocalDelete:
        return &listOperations_;
    case TKind::Refresh:
    case TKind::Download:
        break;
    }
    return nullptr;
}

TRunner::TRun::TRun(TRunner& runner, TKind kind)
    : runner_(runner), kind_(kind), counter_(runner.CounterOf(kind)) {
    if (counter_)
        ++*counter_;
    if (RuleOf(kind_).Long)
        runner_.Begin();
}

TRunner::TRun::~TRun() {
    if (counter_)
        --*counter_;
    if (RuleOf(kind_).Long)
        runner_.End();
}

void TRunner::TRun::Busy(bool on) {
    const TStrip strip = RuleOf(kind_).Strip;
    if (strip != TStrip::None)
        emit runner_.StripShown(strip, on);
    // The phone copies name their own steps; the refresh's caption stays
    // until the reload that follows it sets its own.
    if (kind_ == TKind::Refresh && on)
        runner_.ShowCaption(TCaption::RefreshingSources);
    else if (kind_ == TKind::Download)
        runner_.ShowCaption(on ? TCaption::DownloadingPackages : TCaption::Idle);
}

void TRunner::TRun::ItemStarted(int index) {
    emit runner_.ItemStarted(kind_, index);
}

void TRunner::TRun::Progress(int percent) {
    emit runner_.ProgressChanged(RuleOf(kind_).Strip, percent);
}
