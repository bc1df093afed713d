// The merge-list array as host variables: read into the pair tree on the way
// in, flattened from it on the way out. Both routines that hand the list on
// use these; each turns a failure into its own answer (the watershed returns
// -1, the tiled mode aborts).
#pragma once

#include "containers/aptree.h"
#include "containers/status.h"
#include "host/qel.h"

#include <cstdint>

// Inserts the pairs of `list` in list order, each keyed larger label first; a
// trailing odd element is ignored and duplicates are kept. KAVU_NO_MEMORY when
// the tree refuses one.
kavu_status merge_list_load(aptree *pairs, QEL_VPTR list);

// The tree's pairs in key order as a new ULONG temporary in `*list` (null when
// there are none); the tree is destroyed on every path. KAVU_NO_MEMORY when
// memory runs out.
kavu_status merge_list_flatten(aptree *pairs, QEL_VPTR *list);
