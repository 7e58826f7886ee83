#pragma once

#include <QString>

// Progress of item `item` of `count` as the task list shows it: item * 100 / count rounded to the nearest
// integer, halves to the even neighbour, then "%" (8 items: 12% 25% 38% 50% 62% 75% 88% 100%).
int ProgressPercent(int item, int count);
QString ProgressText(int item, int count);
