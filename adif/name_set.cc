// The names of the record being read, in a hash that is emptied for each
// record by a new stamp instead of being cleared.
#include <cstdlib>
#include <cstring>

#include "adif/adif_reader.h"

void name_set_clear(NameSet& names) {
  names.count = 0;
  if (++names.stamp == 0) {  // wrapped: old stamps could come back
    if (names.buckets) std::memset(names.buckets, 0, names.size * sizeof(NameBucket));
    names.stamp = 1;
  }
}

bool name_set_grow(NameSet& names) {
  size_t size = names.size ? names.size * 2 : 64;
  auto* buckets = static_cast<NameBucket*>(std::calloc(size, sizeof(NameBucket)));
  if (!buckets) return false;
  NameSet grown{buckets, size, 0, names.stamp ? names.stamp : 1};
  for (size_t at = 0; at < names.size; ++at) {
    if (names.buckets[at].stamp == names.stamp) name_set_add(grown, names.buckets[at].field);
  }
  std::free(names.buckets);
  names = grown;
  return true;
}

void name_set_release(NameSet& names) {
  std::free(names.buckets);
  names = NameSet{};
}
