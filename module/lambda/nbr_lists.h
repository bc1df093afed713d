// The neighbour lists of the merging regions: for each region, its neighbours'
// positions in ascending order, each with the index of the pair joining the two.
// Flat lists instead of one search tree per region: a merge walks, merges and
// rescans them, which contiguous memory makes cheap.
#pragma once

#include "containers/status.h"

#include <cstdint>

struct nbr_entry {
  int32_t nbr;   // the neighbour's position
  int32_t pair;  // index of the pair record joining the two regions
};

// Blocks of 2^c entries (class c) come from slabs obtained from the allocation
// layer; a freed block waits on the free list of its class for the next list of
// that size. Blocks never move, so a list stays where it is until it outgrows
// its block. Everything is returned at once by nbr_store_release.
constexpr int32_t nbr_store_classes = 31;

struct nbr_store {
  void *slabs;  // newest slab; each links the older one
  char *bump;   // free space of the newest small-block slab
  char *bump_end;
  nbr_entry *free_blocks[nbr_store_classes];  // linked through their first word
  nbr_entry *merged;                          // scratch for the merge of two lists
  int32_t merged_capacity;
};

// The smallest class whose block holds `count` entries.
int32_t nbr_class_for(int32_t count);
// A block of class `cls`, or null when the allocation layer refuses one.
nbr_entry *nbr_store_alloc(nbr_store *store, int32_t cls);
void nbr_store_free(nbr_store *store, nbr_entry *block, int32_t cls);
// The scratch holds at least `count` entries afterwards; 0 or -1.
kavu_status nbr_store_reserve_merged(nbr_store *store, int32_t count);
// Frees every slab and the scratch; a zeroed store is accepted.
void nbr_store_release(nbr_store *store);

// Index of `nbr` in the ascending list, or -1.
inline int32_t nbr_find(const nbr_entry *list, int32_t n, int32_t nbr) {
  int32_t lo = 0, hi = n;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (list[mid].nbr < nbr)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < n && list[lo].nbr == nbr ? lo : -1;
}
