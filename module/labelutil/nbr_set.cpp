// Neighbour files. Every contact of two differing labels is recorded twice,
// once from each side, as a neighbour in the list of a label; sorted lists
// lay out the data file in order (labels ascending, each one's neighbours
// ascending), and a neighbour's run of equal entries is the length of the
// common boundary.
#include "labelutil/nbr_set.h"

#include "containers/allocation.h"
#include "containers/status.h"
#include "labelutil/le_file.h"

#include <algorithm>
#include <cstddef>
#include <new>

namespace {

// Calls contact(a, b) for every horizontally or vertically adjacent pair of
// differing labels, rows first, then columns.
template <typename Contact>
void for_each_contact(const uint32_t *labels, int32_t ncols, int32_t nrows, Contact contact) {
  const ptrdiff_t w = ncols;
  for (ptrdiff_t r = 0; r < nrows; ++r) {
    const uint32_t *row = labels + r * w;
    for (ptrdiff_t c = 0; c + 1 < w; ++c)
      if (row[c] != row[c + 1]) contact(row[c], row[c + 1]);
  }
  for (ptrdiff_t r = 0; r + 1 < nrows; ++r) {
    const uint32_t *row = labels + r * w;
    for (ptrdiff_t c = 0; c < w; ++c)
      if (row[c] != row[c + w]) contact(row[c], row[c + w]);
  }
}

// Data record: label, n, the n neighbour labels, the n boundary lengths.
// Index record: label, byte offset of its data record.
struct record_writer {
  le_file &data, &index;
  uint32_t offset = 0;  // 32-bit by design: data files stay below 4 GiB

  // `nbrs` holds the label's neighbours sorted, each as often as it touches.
  void write(uint32_t label, const uint32_t *nbrs, size_t count) {
    uint32_t n = 0;
    for (size_t i = 0; i < count; ++i) n += i == 0 || nbrs[i] != nbrs[i - 1];
    le_put(data, label);
    le_put(data, n);
    for (size_t i = 0; i < count; ++i)
      if (i == 0 || nbrs[i] != nbrs[i - 1]) le_put(data, nbrs[i]);
    for (size_t i = 0; i < count;) {
      const size_t run = i;
      while (i < count && nbrs[i] == nbrs[run]) ++i;
      le_put(data, static_cast<uint32_t>(i - run));
    }
    le_put(index, label);
    le_put(index, offset);
    offset += 8 + 8 * n;
  }
};

// Opens both files and hands a writer to `write_all`; -1 when the file
// buffers cannot be had (no file touched), -2 on any file failure.
template <typename WriteAll>
int32_t write_files(const char *data_name, const char *index_name, WriteAll write_all) {
  // The two buffers are too large for a thread's stack.
  auto *files = static_cast<le_file *>(kavu_malloc(2 * sizeof(le_file)));
  if (!files) return KAVU_NO_MEMORY;
  le_file &data = *new (files) le_file;
  le_file &index_file = *new (files + 1) le_file;
  int32_t status = KAVU_FILE_OPEN_FAIL;
  if (le_open(data, data_name)) {
    if (le_open(index_file, index_name)) {
      record_writer writer{data, index_file};
      write_all(writer);
      status = le_close(index_file) ? 0 : -2;
    }
    if (!le_close(data)) status = KAVU_FILE_OPEN_FAIL;  // without the index it stays on disk, empty
  }
  kavu_free(files);
  return status;
}

// Sorts a short list in place; neighbour lists hold a few dozen entries.
void insertion_sort(uint32_t *a, size_t n) {
  for (size_t i = 1; i < n; ++i) {
    const uint32_t v = a[i];
    size_t j = i;
    for (; j > 0 && a[j - 1] > v; --j) a[j] = a[j - 1];
    a[j] = v;
  }
}

// Labels up to `largest` index a table of list starts: one counting pass, one
// filling pass, then each list sorted on its own.
int32_t write_by_label_table(const uint32_t *labels, int32_t ncols, int32_t nrows, size_t n,
                             uint32_t largest, const char *data_name, const char *index_name) {
  auto *start = kavu_alloc_zeroed<size_t>(size_t{largest} + 2);
  auto *nbrs = kavu_alloc_array<uint32_t>(n);
  int32_t status = KAVU_NO_MEMORY;
  if (start && nbrs) {
    size_t *count = start + 1;
    for_each_contact(labels, ncols, nrows, [&](uint32_t a, uint32_t b) {
      ++count[a];
      ++count[b];
    });
    for (uint32_t x = 0; x <= largest; ++x) count[x] += start[x];
    // start[x] now begins list x; filling moves it to the end of list x.
    for_each_contact(labels, ncols, nrows, [&](uint32_t a, uint32_t b) {
      nbrs[start[a]++] = b;
      nbrs[start[b]++] = a;
    });
    status = write_files(data_name, index_name, [&](record_writer &writer) {
      size_t begin = 0;
      for (uint32_t x = 0; x <= largest; ++x) {
        const size_t end = start[x];
        if (end == begin) continue;
        insertion_sort(nbrs + begin, end - begin);
        writer.write(x, nbrs + begin, end - begin);
        begin = end;
      }
    });
  }
  kavu_free(start);
  kavu_free(nbrs);
  return status;
}

// Labels too sparse for a table: (label, neighbour) keys sorted as a whole.
int32_t write_by_sorted_keys(const uint32_t *labels, int32_t ncols, int32_t nrows, size_t n,
                             const char *data_name, const char *index_name) {
  auto *keys = kavu_alloc_array<uint64_t>(n);
  auto *nbrs = kavu_alloc_array<uint32_t>(n);
  int32_t status = KAVU_NO_MEMORY;
  if (keys && nbrs) {
    size_t k = 0;
    for_each_contact(labels, ncols, nrows, [&](uint64_t a, uint64_t b) {
      keys[k++] = a << 32 | b;
      keys[k++] = b << 32 | a;
    });
    std::sort(keys, keys + n);
    for (size_t i = 0; i < n; ++i) nbrs[i] = static_cast<uint32_t>(keys[i]);
    status = write_files(data_name, index_name, [&](record_writer &writer) {
      for (size_t begin = 0, end; begin < n; begin = end) {
        for (end = begin; end < n && keys[end] >> 32 == keys[begin] >> 32;) ++end;
        writer.write(static_cast<uint32_t>(keys[begin] >> 32), nbrs + begin, end - begin);
      }
    });
  }
  kavu_free(keys);
  kavu_free(nbrs);
  return status;
}

}  // namespace

int32_t write_nbr_set(const uint32_t *labels, int32_t ncols, int32_t nrows, const char *data_name,
                      const char *index_name) {
  size_t n_contacts = 0;
  uint32_t largest = 0;  // of the labels in contact
  for_each_contact(labels, ncols, nrows, [&](uint32_t a, uint32_t b) {
    ++n_contacts;
    largest = std::max(largest, std::max(a, b));
  });
  // Each contact enters two lists. A label table is used while it is no
  // longer than the lists themselves, so memory follows the contacts.
  const size_t n = 2 * n_contacts;
  return size_t{largest} < n
             ? write_by_label_table(labels, ncols, nrows, n, largest, data_name, index_name)
             : write_by_sorted_keys(labels, ncols, nrows, n, data_name, index_name);
}
