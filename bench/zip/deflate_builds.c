/* Deflate alone, one thread, as the zip writer drives it (level 6, raw, 1 MiB blocks each with the
 * previous 32 KiB as its dictionary and a sync flush, the CRC-32 of each block), over one file
 * held in memory. Built against each zlib build in turn (bench/zip/run.sh), so that the builds
 * can be compared on the same input.
 *
 * Prints MB/s by the thread's CPU time over all runs, which load elsewhere on the machine does
 * not inflate the way it does wall-clock time (under Wine the thread times tick every 10 ms, so
 * the runs together should take a few seconds), and by the fastest run's wall-clock time.
 * Usage: deflate_builds FILE [RUNS] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "zlib.h"
#ifdef _WIN32
#include <windows.h>
static double Wall(void) {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}
static double Cpu(void) {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const ULONGLONG k = (ULONGLONG)kernel.dwHighDateTime << 32 | kernel.dwLowDateTime;
    const ULONGLONG u = (ULONGLONG)user.dwHighDateTime << 32 | user.dwLowDateTime;
    return (double)(k + u) * 1e-7;
}
#else
static double Wall(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}
static double Cpu(void) {
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}
#endif

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 && atoi(argv[2]) > 0 ? atoi(argv[2]) : 4;
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 1;
    fseek(f, 0, SEEK_END);
    const long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    const long block = 1L << 20, room = 2 * block;
    unsigned char* in = malloc((size_t)n);
    unsigned char* out = malloc((size_t)room);
    if (!in || !out || fread(in, 1, (size_t)n, f) != (size_t)n) return 1;
    fclose(f);

    z_stream s;
    memset(&s, 0, sizeof s);
    if (deflateInit2(&s, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 1;
    double fastest = 1e30;
    unsigned long packed = 0, crc = 0;
    const double cpu0 = Cpu();
    for (int r = 0; r < runs; ++r) {
        const double t0 = Wall();
        packed = 0;
        for (long off = 0; off < n; off += block) {
            const long len = n - off < block ? n - off : block;
            crc = crc32(0, in + off, (uInt)len);
            if (deflateReset(&s) != Z_OK) return 1;
            if (off > 0 && deflateSetDictionary(&s, in + off - 32768, 32768) != Z_OK) return 1;
            s.next_in = in + off;
            s.avail_in = (uInt)len;
            s.next_out = out;
            s.avail_out = (uInt)room;
            const int last = off + len == n;
            if (deflate(&s, last ? Z_FINISH : Z_SYNC_FLUSH) != (last ? Z_STREAM_END : Z_OK)) return 1;
            packed += (unsigned long)(room - s.avail_out);
        }
        const double t = Wall() - t0;
        if (t < fastest) fastest = t;
    }
    const double cpu = Cpu() - cpu0;
    deflateEnd(&s);
    printf("%7.2f MB/s cpu  %7.2f MB/s fastest wall  %lu bytes  crc %08lx\n",
           (double)n * runs / cpu / 1e6, (double)n / fastest / 1e6, packed, crc);
    return 0;
}
