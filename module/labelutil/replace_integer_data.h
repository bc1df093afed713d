// Replacement of integer values through a list of (old value, new value) pairs,
// one pass per distinct value of the data instead of a table indexed by value.
#pragma once

#include <cstdint>

// `out` holds a copy of the n data elements on entry; every element equal to
// old[j] is set to new_values[j], reading only the input values, so chains never
// cascade and the last pair of a repeated old value wins. Returns 0; -1 memory
// exhausted or a value that could not be inserted; -3 a data value that cannot
// be stored in the value table (4294967294 or 4294967295).
int32_t replace_integer_data(const uint32_t *data, int32_t n, const uint32_t *old_values,
                             const uint32_t *new_values, int32_t n_pairs, uint32_t *out);
