// The deflate thread: two blocks that the caller and the thread pass back and
// forth under one lock; the caller adds each block to the CRC as it hands it
// in, the thread deflates it and writes what comes out.
#include "convert/deflate_thread.h"

#include <zlib.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr size_t block_bytes = size_t{1} << 20;
constexpr size_t output_bytes = size_t{1} << 18;

}  // namespace

struct DeflateThread {
  std::mutex lock;
  std::condition_variable changed;
  std::thread worker;
  DeflateBlock blocks[2];
  bool full[2];  // handed to the thread, not yet done
  int filling;   // the caller's block
  bool last;     // the block handed in last ends the stream
  bool stop;     // abandon: the thread leaves at once
  int error;     // errno of a failed write, ENOMEM of zlib; 0 while all is well
  FILE* out;
  z_stream zlib;
  bool zlib_ready;
  DeflateTotals totals;  // counts kept by the thread
  uint32_t crc;          // of the blocks handed in, kept by the caller
  unsigned char output[output_bytes];
};

namespace {

// Deflates `block` (the stream's end with `finish`) and writes what comes
// out; returns 0 or the errno of the failure.
int compress_block(DeflateThread& d, const DeflateBlock& block, bool finish) {
  d.totals.in_bytes += block.used;
  d.zlib.next_in = reinterpret_cast<Bytef*>(block.bytes);
  d.zlib.avail_in = static_cast<uInt>(block.used);
  for (;;) {
    d.zlib.next_out = d.output;
    d.zlib.avail_out = output_bytes;
    int status = deflate(&d.zlib, finish ? Z_FINISH : Z_NO_FLUSH);
    if (status == Z_STREAM_ERROR) return ENOMEM;
    size_t made = output_bytes - d.zlib.avail_out;
    if (made && std::fwrite(d.output, 1, made, d.out) != made) return errno ? errno : EIO;
    d.totals.out_bytes += made;
    if (finish ? status == Z_STREAM_END : d.zlib.avail_out != 0) return 0;
  }
}

// The thread: takes the full blocks in turn until the last one or a stop.
void run(DeflateThread* d) {
  int next = 0;
  std::unique_lock<std::mutex> held(d->lock);
  for (;;) {
    d->changed.wait(held, [&] { return d->stop || d->full[next]; });
    if (d->stop) break;
    bool finish = d->last && d->filling == next;
    held.unlock();
    int error = d->error ? 0 : compress_block(*d, d->blocks[next], finish);
    held.lock();
    if (error) d->error = error;
    d->full[next] = false;
    d->blocks[next].used = 0;
    next ^= 1;
    d->changed.notify_all();
    if (finish) break;
  }
}

// Frees the deflater (its thread must have ended or never started).
void free_deflater(DeflateThread* d) {
  if (d->zlib_ready) deflateEnd(&d->zlib);
  std::free(d->blocks[0].bytes);
  std::free(d->blocks[1].bytes);
  delete d;
}

}  // namespace

DeflateThread* deflate_start(FILE* out) {
  auto* d = new (std::nothrow) DeflateThread();
  if (!d) return nullptr;
  d->out = out;
  for (DeflateBlock& block : d->blocks) {
    block.bytes = static_cast<char*>(std::malloc(block_bytes));
    block.size = block_bytes;
  }
  d->zlib_ready = d->blocks[0].bytes && d->blocks[1].bytes &&
                  deflateInit2(&d->zlib, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  if (!d->zlib_ready) {
    free_deflater(d);
    return nullptr;
  }
  d->crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
  try {
    d->worker = std::thread(run, d);
  } catch (...) {
    free_deflater(d);
    return nullptr;
  }
  return d;
}

DeflateBlock* deflate_block(DeflateThread* d) { return &d->blocks[d->filling]; }

namespace {

// Adds the block being handed in to the CRC, on the caller's thread, which
// has less to do than the deflater.
void add_to_crc(DeflateThread* d) {
  const DeflateBlock& block = d->blocks[d->filling];
  d->crc = static_cast<uint32_t>(
      crc32(d->crc, reinterpret_cast<const Bytef*>(block.bytes), static_cast<uInt>(block.used)));
}

}  // namespace

DeflateBlock* deflate_hand_off(DeflateThread* d, int& error) {
  add_to_crc(d);
  std::unique_lock<std::mutex> held(d->lock);
  d->full[d->filling] = true;
  d->filling ^= 1;
  d->changed.notify_all();
  d->changed.wait(held, [&] { return !d->full[d->filling]; });
  error = d->error;
  return error ? nullptr : &d->blocks[d->filling];
}

bool deflate_finish(DeflateThread* d, DeflateTotals& totals, int& error) {
  add_to_crc(d);
  {
    std::lock_guard<std::mutex> held(d->lock);
    d->last = true;
    d->full[d->filling] = true;
    d->changed.notify_all();
  }
  d->worker.join();
  totals = d->totals;
  totals.crc = d->crc;
  error = d->error;
  free_deflater(d);
  return error == 0;
}

void deflate_abandon(DeflateThread* d) {
  if (!d) return;
  {
    std::lock_guard<std::mutex> held(d->lock);
    d->stop = true;
    d->changed.notify_all();
  }
  d->worker.join();
  free_deflater(d);
}
