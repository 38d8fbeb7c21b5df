// Lookup tables of the table-driven AES, derived from GF(2^8) arithmetic at compile time,
// so they are read-only data from the start and need no initialisation at run time.
#pragma once
#include <stdint.h>

struct CipherTables {
  uint8_t Sbox[256];
  uint8_t InvSbox[256];
  // Round tables: SubBytes (or InvSubBytes) and one column of MixColumns (or
  // InvMixColumns) per byte position, as big-endian words; table i is table 0 rotated right
  // by 8 * i bits.
  uint32_t Encrypt[4][256];
  uint32_t Decrypt[4][256];
};

extern const CipherTables kCipherTables;
