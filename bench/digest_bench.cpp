// Throughput of the integrity digest on one core, beside a plain pass over
// the same bytes (memcpy and a word sum) in the same process, so the
// figures can be compared on any machine. Optionally also over a file.
//
//   digest_bench [FILE]
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "launcher/digest.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double bestSeconds(int rounds, F&& f) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Clock::now();
    f();
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

volatile uint64_t g_sink;

void measure(const char* label, const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(size);
  std::memset(copy.data(), 0, size);
  const double gb = static_cast<double>(size) / 1e9;
  double tCopy = bestSeconds(5, [&] { std::memcpy(copy.data(), data, size); g_sink = copy[size / 2]; });
  double tSum = bestSeconds(5, [&] {
    uint64_t s = 0;
    for (size_t i = 0; i + 8 <= size; i += 8) {
      uint64_t w;
      std::memcpy(&w, data + i, 8);
      s += w;
    }
    g_sink = s;
  });
  double tHash = bestSeconds(5, [&] {
    qlx::Digest d = qlx::hashBytes(data, size);
    g_sink = d[0];
  });
  std::printf("%s (%.1f MB):\n", label, static_cast<double>(size) / 1e6);
  std::printf("  memcpy   %7.2f GB/s\n", gb / tCopy);
  std::printf("  word sum %7.2f GB/s\n", gb / tSum);
  std::printf("  digest   %7.2f GB/s   (digest/sum ratio %.2f, digest/memcpy ratio %.2f)\n",
              gb / tHash, tSum / tHash, tCopy / tHash);
}

// What the launcher pays: a fresh read-only mapping of the file (page cache
// warm), hashed once, page faults included; with and without pre-faulting.
void measureMapping(const char* path) {
  int fd = open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= 0) {
    if (fd >= 0) close(fd);
    return;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  for (int populate : {0, MAP_POPULATE}) {
    double best = bestSeconds(5, [&] {
      void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | populate, fd, 0);
      if (map == MAP_FAILED) return;
      qlx::Digest d = qlx::hashBytes(static_cast<const uint8_t*>(map), size);
      g_sink = d[0];
      munmap(map, size);
    });
    std::printf("  digest of a fresh mapping%s %7.2f GB/s (%.1f ms)\n",
                populate != 0 ? " (MAP_POPULATE)" : "", static_cast<double>(size) / 1e9 / best,
                best * 1e3);
  }
  close(fd);
}

// The same through reads into one reused buffer, as the launcher checks
// itself: no page tables to build and tear down, one more copy instead.
void measureReading(const char* path) {
  int fd = open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= 0) {
    if (fd >= 0) close(fd);
    return;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  qlx::PayloadLayout layout;  // the whole file but its last 16 bytes
  layout.fileSize = size;
  layout.digestOffset = static_cast<int64_t>(size) - 16;
  const auto read = [fd](uint64_t offset, uint8_t* out, size_t n) {
    return pread(fd, out, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
  };
  double best = bestSeconds(5, [&] {
    qlx::Digest d{};
    qlx::streamedFileDigest(read, layout, d);
    g_sink = d[0];
  });
  std::printf("  digest through reads        %7.2f GB/s (%.1f ms)\n",
              static_cast<double>(size) / 1e9 / best, best * 1e3);
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t size = 256u << 20;
  std::vector<uint8_t> buffer(size);
  for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
  measure("256 MiB buffer", buffer.data(), buffer.size());

  if (argc > 1) {
    FILE* f = std::fopen(argv[1], "rb");
    if (f == nullptr) {
      std::fprintf(stderr, "digest_bench: cannot open %s\n", argv[1]);
      return 2;
    }
    std::vector<uint8_t> file;
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) file.insert(file.end(), chunk, chunk + n);
    std::fclose(f);
    measure(argv[1], file.data(), file.size());

    measureMapping(argv[1]);
    measureReading(argv[1]);
  }
  return 0;
}
