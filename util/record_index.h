// The record index of the companion library: an AA tree of whole records
// keyed by the value of their CALL field, with duplicate detection and a
// count per call sign; and ADIF field writing.
#pragma once

#include <cstdio>

#include "adif/adif.h"

// Inserts `record` (zero index members) into the index at `root` and returns
// the new root. A call sign already in the index keeps the earlier record,
// whose `call_count` grows by one, leaves `record` unlinked and puts
// "Duplicate callsign: %s" into `message` (malloc'ed, the caller frees it;
// any earlier text is replaced). A null record or one without a CALL value
// leaves the index unchanged. The index owns none of its records.
AdifRecord* insert_record(AdifRecord* root, AdifRecord* record, char*& message);

// Returns the record of the index at `root` whose call sign equals the one of
// `probe`, or null (also for a probe without a CALL value).
AdifRecord* find_record(AdifRecord* root, const AdifRecord* probe);

// Writes `field` as "<NAME:length>value " with the value's actual length, or
// "<NAME> " when it has no value. No line end.
void write_ADIF_field(FILE* stream, const AdifField* field);

// Writes every field of the tree at `root` in name order as "<NAME>value ".
// No line end; an empty tree writes nothing.
void dump_field_tree(FILE* stream, const AdifField* root);
