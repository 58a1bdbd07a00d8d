// The order of the columns: the log's own (names as they first appear), or
// the QSO's (the columns a radio amateur looks for first, then the other
// ADIF fields, then application and unknown fields).
#pragma once

#include "convert/convert.h"

// The columns a QSO shows first, in this order, ended by a null entry.
extern const char* const QSO_first_columns[];

// Returns true when ADIF defines a QSO field named `name` (upper case).
bool is_ADIF_field(const char* name);

// Fills the empty list `ordered` with the names of `found` in QSO order: the
// names of QSO_first_columns that `found` holds, in that order; then the
// other ADIF fields of `found`, in its order; then the rest (APP_ and fields
// ADIF does not define), in its order. False when memory runs out.
bool order_columns_for_QSO(const ColumnList& found, ColumnList& ordered);
