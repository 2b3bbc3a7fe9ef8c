/* Times liblzma's raw LZMA1 decoder the way the launcher drives it: the
   packed bytes whole in memory, one output block of the final size, one
   lzma_code call. bench/startup.sh builds it against the stub's own liblzma
   and runs it under Wine, which splits the launcher's run into the decoding
   and everything else. The output block is reused between rounds, so the
   best round has no first touch of memory in it.

     DecodeTimer FILE.lzma [ROUNDS]

   FILE.lzma is the .lzma ("alone") form: properties byte, dictionary size
   (32-bit), unpacked size (64-bit), then the raw stream. Prints the best
   process CPU time of ROUNDS decodes in seconds, and fails unless every
   round produced exactly the unpacked size. */
#include <lzma.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

/* User and kernel time of this process: the machine may be busy with other
   work, which wall-clock time would count. */
static double CpuSeconds(void) {
#ifdef _WIN32
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  const uint64_t k = ((uint64_t)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime;
  const uint64_t u = ((uint64_t)user.dwHighDateTime << 32) | user.dwLowDateTime;
  return (double)(k + u) / 1e7;
#else
  struct timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
#endif
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: DecodeTimer FILE.lzma [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? atoi(argv[2]) : 3;
  FILE* file = fopen(argv[1], "rb");
  if (!file) {
    perror(argv[1]);
    return 2;
  }
  fseek(file, 0, SEEK_END);
  const long fileSize = ftell(file);
  fseek(file, 0, SEEK_SET);
  uint8_t* packed = malloc((size_t)fileSize);
  if (fileSize < 13 || !packed || fread(packed, 1, (size_t)fileSize, file) != (size_t)fileSize) {
    fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 2;
  }
  fclose(file);

  const uint8_t props = packed[0];
  uint32_t dict = 0;
  uint64_t size = 0;
  for (int i = 0; i < 4; ++i) dict |= (uint32_t)packed[1 + i] << (8 * i);
  for (int i = 0; i < 8; ++i) size |= (uint64_t)packed[5 + i] << (8 * i);
  uint8_t* out = malloc(size ? (size_t)size : 1);
  if (!out) return 2;

  lzma_options_lzma options = {0};
  options.dict_size = dict < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : dict;
  options.lc = props % 9;
  options.lp = (props / 9) % 5;
  options.pb = props / 45;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, NULL}};

  double best = -1;
  for (int round = 0; round < rounds; ++round) {
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters) != LZMA_OK) {
      fprintf(stderr, "decoder refused the settings\n");
      return 1;
    }
    const double start = CpuSeconds();
    stream.next_in = packed + 13;
    stream.avail_in = (size_t)fileSize - 13;
    stream.next_out = out;
    stream.avail_out = (size_t)size;
    const lzma_ret result = lzma_code(&stream, LZMA_RUN);
    const double took = CpuSeconds() - start;
    const uint64_t produced = stream.total_out;
    lzma_end(&stream);
    if (produced != size || (result != LZMA_OK && result != LZMA_STREAM_END)) {
      fprintf(stderr, "decoded %llu of %llu bytes\n", (unsigned long long)produced,
              (unsigned long long)size);
      return 1;
    }
    if (best < 0 || took < best) best = took;
  }
  printf("%.3f\n", best);
  free(out);
  free(packed);
  return 0;
}
