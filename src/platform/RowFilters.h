#pragma once

#include <QtGlobal>

// The inverse of PNG's row filters, restoring a row's bytes in place. `above` is the row
// before it as already restored (zeros for the first row); `step` is the bytes of one pixel,
// at least 1. Images are restored row after row, each depending on the one before, so these
// loops are the part of a decode no second thread can take: they work a pixel at a time in
// vector registers where the processor has them.
namespace RowFilters {
void undoSub(uchar* row, qsizetype length, int step);
void undoUp(uchar* row, const uchar* above, qsizetype length);
void undoAverage(uchar* row, const uchar* above, qsizetype length, int step);
void undoPaeth(uchar* row, const uchar* above, qsizetype length, int step);
} // namespace RowFilters
