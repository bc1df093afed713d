// open_hash: sizing, the hash functions, and the table operations other than
// the inline home probe of lookup.
#include "containers/open_hash.h"

#include "containers/allocation.h"

const int32_t primetbl[256] = {
    3,    5,    7,    11,   13,   17,   19,   23,   29,   31,   37,   41,   43,   47,   53,   59,
    61,   67,   71,   73,   79,   83,   89,   97,   101,  103,  107,  109,  113,  127,  131,  137,
    139,  149,  151,  157,  163,  167,  173,  179,  181,  191,  193,  197,  199,  211,  223,  227,
    229,  233,  239,  241,  251,  257,  263,  269,  271,  277,  281,  283,  293,  307,  311,  313,
    317,  331,  337,  347,  349,  353,  359,  367,  373,  379,  383,  389,  397,  401,  409,  419,
    421,  431,  433,  439,  443,  449,  457,  461,  463,  467,  479,  487,  491,  499,  503,  509,
    521,  523,  541,  547,  557,  563,  569,  571,  577,  587,  593,  599,  601,  607,  613,  617,
    619,  631,  641,  643,  647,  653,  659,  661,  673,  677,  683,  691,  701,  709,  719,  727,
    733,  739,  743,  751,  757,  761,  769,  773,  787,  797,  809,  811,  821,  823,  827,  829,
    839,  853,  857,  859,  863,  877,  881,  883,  887,  907,  911,  919,  929,  937,  941,  947,
    953,  967,  971,  977,  983,  991,  997,  1009, 1013, 1019, 1021, 1031, 1033, 1039, 1049, 1051,
    1061, 1063, 1069, 1087, 1091, 1093, 1097, 1103, 1109, 1117, 1123, 1129, 1151, 1153, 1163, 1171,
    1181, 1187, 1193, 1201, 1213, 1217, 1223, 1229, 1231, 1237, 1249, 1259, 1277, 1279, 1283, 1289,
    1291, 1297, 1301, 1303, 1307, 1319, 1321, 1327, 1361, 1367, 1373, 1381, 1399, 1409, 1423, 1427,
    1429, 1433, 1439, 1447, 1451, 1453, 1459, 1471, 1481, 1483, 1487, 1489, 1493, 1499, 1511, 1523,
    1531, 1543, 1549, 1553, 1559, 1567, 1571, 1579, 1583, 1597, 1601, 1607, 1609, 1613, 1619, 1621};

int32_t h1_reg(uint32_t key, int32_t p) {
  return static_cast<int32_t>(key & ((uint32_t{1} << p) - 1u));
}

int32_t h2_reg(uint32_t key, int32_t p) { return primetbl[(key >> p) & 0xFFu]; }

int32_t match_reg(uint32_t slot_word, uint32_t key) { return slot_word == key; }

int32_t h3_reg(uint32_t key, int32_t p) {
  return static_cast<int32_t>(key % static_cast<uint32_t>(p));
}

int32_t h4_reg(uint32_t key, int32_t p) {
  return static_cast<int32_t>(1u + key % static_cast<uint32_t>(p - 2));
}

int32_t compute_hash_param(int32_t *count) {
  const uint32_t n = static_cast<uint32_t>(*count);
  if (n == 0) {
    *count = 2;
    return 0;
  }
  int32_t b = 31 - __builtin_clz(n);
  const double p = static_cast<double>(uint64_t{1} << (b + 1));
  const int32_t param = p / static_cast<double>(n) > 1.5 ? b + 1 : b + 2;
  *count = static_cast<int32_t>(uint64_t{1} << param);
  return param;
}

int32_t open_hash_init(open_hash *table, int32_t n_positions, int32_t hash_param,
                       open_hash_fn hash_fn, open_hash_fn step_fn, open_hash_match match_fn) {
  // A size that compute_hash_param could not express (2^31 positions or more
  // wrap to 0 or below) is a table that cannot be set up.
  table->slots =
      n_positions > 0 ? kavu_alloc_array<uint32_t>(static_cast<size_t>(n_positions)) : nullptr;
  if (!table->slots) return -1;
  table->n_positions = n_positions;
  table->hash_param = hash_param;
  for (int32_t i = 0; i < n_positions; ++i) table->slots[i] = OPEN_HASH_EMPTY;
  table->hash_fn = hash_fn;
  table->step_fn = step_fn;
  table->match_fn = match_fn;
  table->n_stored = 0;
  return 0;
}

int32_t open_hash_lookup_rest(const open_hash *table, uint32_t key, uint32_t home,
                              int32_t *position) {
  const uint32_t n = static_cast<uint32_t>(table->n_positions);
  const uint32_t step = open_hash_reduce(table->step_fn(key, table->hash_param), n);
  uint32_t pos = home;
  for (uint32_t i = 1; i < n; ++i) {
    pos = open_hash_next(pos, step, n);
    const uint32_t word = table->slots[pos];
    if (word == OPEN_HASH_EMPTY) return -1;
    if (table->match_fn(word, key)) {
      *position = static_cast<int32_t>(pos);
      return 0;
    }
  }
  return -1;
}

// One walk does the lookup and the search for a free slot together: the first
// empty-or-deleted position of the probe sequence is where a second walk from
// the start would store the key, and the lookup ends at the first empty slot.
int32_t open_hash_insert(open_hash *table, uint32_t key, int32_t *position) {
  const uint32_t n = static_cast<uint32_t>(table->n_positions);
  if (table->n_stored == table->n_positions) return -1;
  uint32_t pos = open_hash_reduce(table->hash_fn(key, table->hash_param), n);
  uint32_t step = 0;      // fetched only once the home probe has failed
  uint32_t free_pos = n;  // n: no free slot seen yet
  for (uint32_t i = 0; i < n; ++i) {
    if (i == 1) step = open_hash_reduce(table->step_fn(key, table->hash_param), n);
    if (i > 0) pos = open_hash_next(pos, step, n);
    const uint32_t word = table->slots[pos];
    if (word == OPEN_HASH_EMPTY) {
      if (free_pos == n) free_pos = pos;
      break;
    }
    if (table->match_fn(word, key)) {
      *position = static_cast<int32_t>(pos);
      return -2;
    }
    if (word == OPEN_HASH_DELETED && free_pos == n) free_pos = pos;
  }
  if (free_pos == n) return -1;
  table->slots[free_pos] = key;
  ++table->n_stored;
  *position = static_cast<int32_t>(free_pos);
  return 0;
}

int32_t open_hash_remove(open_hash *table, uint32_t key) {
  int32_t position;
  if (open_hash_lookup(table, key, &position) != 0) return -1;
  table->slots[position] = OPEN_HASH_DELETED;
  --table->n_stored;
  return 0;
}

int32_t open_hash_pos_valid(const open_hash *table, int32_t position) {
  const uint32_t word = table->slots[position];
  return word != OPEN_HASH_EMPTY && word != OPEN_HASH_DELETED;
}

void open_hash_destroy(open_hash *table) {
  kavu_free(table->slots);
  *table = open_hash{};
}

int32_t insert_lbl_hash(open_hash *table, uint32_t label) {
  int32_t position;
  const int32_t status = open_hash_insert(table, label, &position);
  if (status == 0 || status == -2) return 0;
  open_hash_destroy(table);
  return -2;
}

void print_table(const open_hash *table, FILE *stream) {
  std::fprintf(stream, "Table size is %d\n", table->n_stored);
  std::fprintf(stream, "Number of table positions is %d\n", table->n_positions);
  for (int32_t i = 0; i < table->n_positions; ++i) {
    if (open_hash_pos_valid(table, i))
      std::fprintf(stream, "Slot[%03d]=%d\n", i, static_cast<int32_t>(table->slots[i]));
    else
      std::fprintf(stream, "Slot[%03d]= \n", i);
  }
}
