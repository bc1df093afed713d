// Diagnostic printers of the merging structures: exact text on a small state.
#include "lambda_state.h"

#include "lambda/merge_step.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

using lambda_test::lambda_state;

namespace {

std::string printed(const std::function<void(FILE *)> &print) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *stream = open_memstream(&buffer, &size);
  print(stream);
  fclose(stream);
  std::string out(buffer, size);
  free(buffer);
  return out;
}

TEST(Printers, RegionSetBeforeAndAfterAMerge) {
  lambda_state s;
  ASSERT_EQ(s.build({0, 1, 0, 1}, {1, 2, 1, 2}, 2, 2, 1), 0);
  EXPECT_EQ(printed([&](FILE *f) {
              t_print_region_set(s.n_positions, 1, s.regions, f, s.pairs, &s.hash, s.lists);
            }),
            "\nregion set (capacity = 4): \n"
            "pos = 1, label = 1\n\tgval: 0.000000 \n\tarea: 2\n\tbest nbrreg: 2\n"
            "pos = 2, label = 2\n\tgval: 1.000000 \n\tarea: 2\n\tbest nbrreg: 1\n");
  s.merge_min();
  EXPECT_EQ(printed([&](FILE *f) {
              t_print_region_set(s.n_positions, 1, s.regions, f, s.pairs, &s.hash, s.lists);
            }),
            "\nregion set (capacity = 4): \n"
            "pos = 1, label = 1\n\tgval: 0.500000 \n\tarea: 4\n\tbest nbr hash: error\n");
}

TEST(Printers, PairSetAndMergeTree) {
  lambda_state s;  // means 0 and 1 over 2 pixels each, 2 pixels of boundary
  ASSERT_EQ(s.build({0, 1, 0, 1}, {1, 2, 1, 2}, 2, 2, 1), 0);
  EXPECT_EQ(printed([&](FILE *f) { t_print_pair_set(s.n_pairs, s.pairs, f); }),
            "\npair set:\ni = 0\n\tt: 0.500000 s: 1.000000\n\tr0 r1 b e: 1 2 1 1\n"
            "\tbound length: 2\nnumber of pairs = 1. \n");
  EXPECT_EQ(printed([&](FILE *f) { t_print_merge_tree(&s.run.candidates, f); }),
            "\nmerge tree (number = 1): \ni = 0, cost = 0.500000, pair = 0\n");
}

TEST(Printers, NeighbourTreeStopsAtKeyZero) {
  lambda_state s;
  ASSERT_EQ(s.build(std::vector<float>(6, 0), {0, 1, 2, 0, 1, 2}, 3, 2, 1), 0);
  EXPECT_EQ(printed([&](FILE *f) { t_print_nptree(&s.regions[1], f); }),
            "Number of nbr: 0.\n");  // keys 0 and 2: the first is 0
  EXPECT_EQ(printed([&](FILE *f) { t_print_nptree(&s.regions[0], f); }),
            "\tnptree tree: \n\t1 \nNumber of nbr: 1.\n");
  lambda_state one;
  ASSERT_EQ(one.build({1}, {3}, 1, 1, 1), 0);
  EXPECT_EQ(printed([&](FILE *f) { t_print_nptree(&one.regions[one.pos(3)], f); }),
            "Number of nbr: 0.\n");  // empty
}

}  // namespace
