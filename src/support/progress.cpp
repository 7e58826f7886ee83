#include "support/progress.h"

#include <cmath>

int ProgressPercent(int item, int count) {
    if (count <= 0)
        return 0;
    // nearbyint rounds in the current mode, which is to-nearest-even unless someone changed it.
    return static_cast<int>(std::nearbyint(static_cast<double>(item) * 100.0 / static_cast<double>(count)));
}

QString ProgressText(int item, int count) {
    return QString::number(ProgressPercent(item, count)) + '%';
}
