// A raw deflate stream (zlib at level 1) run on a second thread: the caller
// fills one block while the thread compresses the other and writes the
// result to a file, so the two halves of writing a big zip entry overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// One deflater and its thread; opaque.
struct DeflateThread;

// The block the caller fills: `used` of `size` bytes at `bytes`.
struct DeflateBlock {
  char* bytes;
  size_t used;
  size_t size;
};

// What a finished stream did.
struct DeflateTotals {
  uint32_t crc;        // CRC-32 of the bytes handed in
  uint64_t in_bytes;   // handed in
  uint64_t out_bytes;  // written to the file
};

// Starts a deflater that writes to `out` (the caller's, left open) from its
// current position. Returns it, owned by the caller until deflate_finish or
// deflate_abandon; null when memory or a thread cannot be had.
DeflateThread* deflate_start(FILE* out);

// Returns the block the caller fills now; valid until the next hand-off.
DeflateBlock* deflate_block(DeflateThread* deflater);

// Hands the filled block to the thread and returns the next one to fill
// (waiting while the thread still has it); null with the errno in `error`
// once a write has failed.
DeflateBlock* deflate_hand_off(DeflateThread* deflater, int& error);

// Hands over the last block, ends the stream and waits for the thread.
// Returns true with `totals` set, or false with the errno of a failed write
// (ENOMEM when zlib failed) in `error`. Frees the deflater in either case.
bool deflate_finish(DeflateThread* deflater, DeflateTotals& totals, int& error);

// Stops the thread and frees the deflater, whatever it has written. Null is
// allowed.
void deflate_abandon(DeflateThread* deflater);
