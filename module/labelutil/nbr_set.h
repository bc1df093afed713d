// Region adjacency of a label image written as a pair of binary files: per label
// its neighbouring labels with the common boundary lengths (data file), and the
// byte offset of each label's record (index file).
#pragma once

#include <cstdint>

// Writes the neighbour data file and index file of the ncols x nrows label
// image, whose labels must all be below 2^31. Memory follows the number of
// contacts between differing labels, never the label range. Values are
// written little-endian. Returns 0; -1 memory exhausted (no file touched);
// -2 a file could not be opened, or a write to either file failed (what was
// written stays on disk).
int32_t write_nbr_set(const uint32_t *labels, int32_t ncols, int32_t nrows, const char *data_name,
                      const char *index_name);
