#include "base/Outcome.h"

#include <cstdio>

void ReportToStderr(const QString& text) {
    std::fprintf(stderr, "orvia: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}
