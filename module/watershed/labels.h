// Label values of the flooding workers. The same names serve the 32-bit and
// the 16-bit worker: every reserved value sits at the top of the label type,
// so one comparison (`v <= LBL_MAX_REAL`) tells "0 or a real label" apart.
#pragma once

#include <cstdint>

template <typename Label>
inline constexpr Label LBL_INIT = static_cast<Label>(-1);  // not yet reached
template <typename Label>
inline constexpr Label LBL_CURRENT = static_cast<Label>(-2);  // level being flooded
template <typename Label>
inline constexpr Label LBL_INQUEUE = static_cast<Label>(-3);  // waiting in the queue
template <typename Label>
inline constexpr Label LBL_FRAME = static_cast<Label>(-4);  // first/last row and column
template <typename Label>
inline constexpr Label LBL_EXCLUDED = static_cast<Label>(-5);  // mask value 0
template <typename Label>
inline constexpr Label LBL_WSHED = 0;  // watershed pixel
// The largest real label; numbering saturates here.
template <typename Label>
inline constexpr Label LBL_MAX_REAL = static_cast<Label>(-6);

// A basin label: neither the watershed value nor one of the reserved values.
template <typename Label>
constexpr bool is_real_label(Label v) {
  return v != LBL_WSHED<Label> && v <= LBL_MAX_REAL<Label>;
}

// One of the worker's own markers (LBL_INIT ... LBL_EXCLUDED). Margin labels
// are stored on the frame as the worker's type holds them (the 16-bit worker
// keeps their low 16 bits); one that lands here would be taken for the marker
// itself (a frame pixel read as LBL_CURRENT is flooded, and the flood steps off
// the image). The routine refuses such margins; the workers assume none.
template <typename Label>
constexpr bool is_marker(Label v) {
  return v > LBL_MAX_REAL<Label>;
}

// The label after `current`; from the largest real label on every new basin
// shares it (a start label beyond it also yields it, never a reserved value).
template <typename Label>
constexpr Label next_label(Label current) {
  return current >= LBL_MAX_REAL<Label> ? LBL_MAX_REAL<Label> : static_cast<Label>(current + 1);
}
