// Little-endian 4-byte values on binary file streams: the share files are
// written value by value in a fixed byte order, never as memory dumps, so they
// read the same on every machine. Each call reports whether all 4 bytes moved.
#pragma once

#include <cstdint>
#include <cstdio>

bool read_le_u32(FILE *stream, uint32_t *value);
bool read_le_i32(FILE *stream, int32_t *value);
bool read_le_f32(FILE *stream, float *value);
bool write_le_u32(FILE *stream, uint32_t value);
bool write_le_i32(FILE *stream, int32_t value);
bool write_le_f32(FILE *stream, float value);

// Decodes a little-endian word that was read as raw bytes into its own place.
uint32_t decode_le_u32(const void *bytes);
