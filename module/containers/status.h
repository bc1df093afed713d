// The statuses that workers and containers return (int32: 0 or negative); the
// routine wrappers turn each failure into its catalogue message. A status
// dropped unread is a failure gone silent, so the compiler refuses to let it go.
#pragma once

#include <cstdint>

enum [[nodiscard]] kavu_status : int32_t{
    KAVU_OK = 0,
    KAVU_NO_MEMORY = -1,  // also a container that cannot grow or a table that cannot be set up
    KAVU_HASH_INSERT_FAIL = -2,  // a hash-table insertion failed
    KAVU_KEY_NOT_FOUND = -3,     // a label missing from a hash table
    KAVU_FILE_ERROR = -4,        // a share file that does not open or position (tiled mode)
    KAVU_FILE_OPEN_FAIL = -2,    // the neighbour files only: a file that cannot be opened
};

// A container's int32 result (0 or one of the statuses above) as the status it is.
inline kavu_status as_status(int32_t status) { return static_cast<kavu_status>(status); }
