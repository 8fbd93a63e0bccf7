/* The block deflater of the SDK's deflate workers: zlib's deflate over one block at a time, in
 * memory that serves again from block to block (the stream's state, the block's input and its
 * output), so that a worker makes no garbage beyond the deflated bytes it hands back.
 *
 * A block is raw deflate primed with the 32 KiB before it; a block that is not the file's last ends
 * with a sync flush (an empty stored block at a byte boundary), the last with the final block, so
 * that the blocks joined in order are one raw deflate stream. */
#include <stdlib.h>
#include "zlib.h"

#define EXPORT __attribute__((used, visibility("default")))

EXPORT void* tw_alloc(int size) { return malloc((size_t)size); }
EXPORT void tw_free(void* p) { free(p); }

/* A deflater at `level` (0-9), or 0 when zlib refused it. */
EXPORT z_stream* tw_deflate_open(int level) {
  z_stream* s = (z_stream*)calloc(1, sizeof(z_stream));
  if (!s) return 0;
  if (deflateInit2(s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    free(s);
    return 0;
  }
  return s;
}

EXPORT void tw_deflate_close(z_stream* s) {
  if (!s) return;
  deflateEnd(s);
  free(s);
}

/* The most a block of `length` bytes can take deflated, its flush included. */
EXPORT int tw_deflate_bound(z_stream* s, int length) {
  return (int)deflateBound(s, (uLong)length) + 16;
}

/* Deflates `length` bytes at `in`, primed with `dictionaryLength` bytes at `dictionary`, into
 * `out`; the length written, or -1 when zlib failed or `capacity` was too small. */
EXPORT int tw_deflate_block(z_stream* s, const unsigned char* in, int length, const unsigned char* dictionary,
                            int dictionaryLength, int last, unsigned char* out, int capacity) {
  if (deflateReset(s) != Z_OK) return -1;
  if (dictionaryLength > 0 && deflateSetDictionary(s, dictionary, (uInt)dictionaryLength) != Z_OK) return -1;
  s->next_in = (Bytef*)in;
  s->avail_in = (uInt)length;
  s->next_out = out;
  s->avail_out = (uInt)capacity;
  int status = deflate(s, last ? Z_FINISH : Z_SYNC_FLUSH);
  if (last ? status != Z_STREAM_END : (status != Z_OK || s->avail_out == 0)) return -1;
  if (s->avail_in != 0) return -1;
  return capacity - (int)s->avail_out;
}
