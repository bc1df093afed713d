// Region adjacency of a label image written as a pair of binary files: per label
// its neighbouring labels with the common boundary lengths (data file), and the
// byte offset of each label's record (index file).
#pragma once

#include "containers/nptree.h"

#include <cstdint>

// One entry per label that has neighbours: its neighbours, keyed by neighbour
// label, each carrying the index of the pair record that joins the two.
struct reg_nbr_set {
  int32_t n_nbr;
  nptree *nbr_tree;
};

// Destroys the trees of the first n entries and frees the table; null is ignored.
void free_reg_nbr_set(int32_t n, reg_nbr_set *table);

// Writes the neighbour data file and index file of the ncols x nrows label
// image, whose labels must all be below 2^31. The region table holds only the
// labels that have neighbours, so its size follows the adjacency, never the
// label range. Values are written little-endian. Returns 0; -1 memory
// exhausted; -2 a file could not be opened, or a write to either file failed
// (what was written stays on disk).
int32_t write_nbr_set(const uint32_t *labels, int32_t ncols, int32_t nrows, const char *data_name,
                      const char *index_name);
