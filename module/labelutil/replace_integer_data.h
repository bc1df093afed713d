// Replacement of integer values through a list of (old value, new value) pairs,
// one pass over the data, without a table indexed by value.
#pragma once

#include <cstdint>

// Writes all n elements of `out`: the data, with every element equal to old[j]
// set to new_values[j], reading only the input values, so chains never cascade
// and the last pair of a repeated old value wins. Returns 0; -1 memory
// exhausted; -3 a data value reserved by the label hash tables (4294967294 or
// 4294967295), which is refused whatever the pairs.
int32_t replace_integer_data(const uint32_t *data, int32_t n, const uint32_t *old_values,
                             const uint32_t *new_values, int32_t n_pairs, uint32_t *out);
