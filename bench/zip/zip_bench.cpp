// Packs one file with the zip core's writer and prints the throughput over the input size.
#include "posix_zip_io.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE NEW_ARCHIVE\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const zipcore::Status status = ziptest::packFile(argv[1], argv[2], "");
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (status != zipcore::Status::Ok) {
        std::fprintf(stderr, "packing failed: %s\n", zipcore::describe(status));
        return 1;
    }
    const double megabytes = static_cast<double>(std::filesystem::file_size(argv[1])) / 1e6;
    std::printf("%.1f\n", megabytes / elapsed.count());
    return 0;
}
