// Diagnostic dumps of the merging structures. No routine calls them; they
// exist for debugging sessions and tests.
#include "lambda/merge_step.h"
#include "lambda/pair_set.h"

#include <cstdio>

void t_print_region_set(int32_t capacity, int32_t nbands, const region_rec *region_set,
                        FILE *stream, const pair_rec *pair_set, const open_hash *region_hash,
                        const merge_lbl_list *merge_lbl) {
  const auto label = [&](int32_t p) { return static_cast<int>(region_hash->slots[p]); };
  fprintf(stream, "\nregion set (capacity = %d): \n", capacity);
  for (int32_t p = 0; p < capacity; ++p) {
    if (!merge_lbl[p].head) continue;
    const region_rec &rec = region_set[p];
    fprintf(stream, "pos = %d, label = %d\n", p, label(p));
    fprintf(stream, "\tgval: ");
    for (int32_t b = 0; b < nbands; ++b) fprintf(stream, "%f ", static_cast<double>(rec.gval[b]));
    fprintf(stream, "\n\tarea: %d\n", rec.area);
    if (!pair_set) {
      fprintf(stream, "\tbestp: %d\n", rec.bestp);
    } else if (rec.bestp >= 0 && pair_set[rec.bestp].r0 == p) {
      fprintf(stream, "\tbest nbrreg: %d\n", label(pair_set[rec.bestp].r1));
    } else if (rec.bestp >= 0 && pair_set[rec.bestp].r1 == p) {
      fprintf(stream, "\tbest nbrreg: %d\n", label(pair_set[rec.bestp].r0));
    } else {
      fprintf(stream, "\tbest nbr hash: error\n");
    }
  }
  fflush(stream);
}

// A region's neighbour positions in ascending order, stopping at a key of 0 as
// well as at the end (the printer this format comes from stopped at the zero
// key an empty neighbour tree gives).
void t_print_nptree(const region_rec *region, FILE *stream) {
  int count = 0;
  for (; count < region->n_nbrs && region->nbrs[count].nbr != 0; ++count)
    fprintf(stream, count == 0 ? "\tnptree tree: \n\t%d " : "%d ", region->nbrs[count].nbr);
  if (count > 0) fprintf(stream, "\n");
  fprintf(stream, "Number of nbr: %d.\n", count);
  fflush(stream);
}

void t_print_pair_set(int32_t n_pairs, const pair_rec *pair_set, FILE *stream) {
  fprintf(stream, "\npair set:\n");
  int printed = 0;
  for (int32_t k = 0; k < n_pairs; ++k) {
    const pair_rec &p = pair_set[k];
    if (p.removed) continue;
    fprintf(stream, "i = %d\n\tt: %f s: %f\n", k, static_cast<double>(p.t),
            static_cast<double>(p.s));
    fprintf(stream, "\tr0 r1 b e: %d %d %d %d\n\tbound length: %d\n", p.r0, p.r1, p.b, p.e, p.blen);
    ++printed;
  }
  fprintf(stream, "number of pairs = %d. \n", printed);
  fflush(stream);
}

// The heap is not in key order: each line picks the least key after the one
// printed before it, a quadratic walk that a diagnostic can afford.
void t_print_merge_tree(const candidate_heap *tree, FILE *stream) {
  fprintf(stream, "\nmerge tree (number = %d): \n", tree->size);
  const mg_key *last = nullptr;
  for (int32_t i = 0; i < tree->size; ++i) {
    const mg_key *next = nullptr;
    for (int32_t j = 0; j < tree->size; ++j) {
      const mg_key *key = &tree->keys[j];
      if ((!last || candidate_before(*last, *key)) && (!next || candidate_before(*key, *next)))
        next = key;
    }
    fprintf(stream, "i = %d, cost = %f, pair = %d\n", i, static_cast<double>(next->cost),
            next->pair_index);
    last = next;
  }
  fflush(stream);
}
