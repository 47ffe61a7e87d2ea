// Shared by the fuzz targets: a private scratch directory per process, and
// whole-file reads and writes.
//
// The directory lives on a memory file system when there is one: several
// targets save (and fsync) files for every input, which a disk would make
// the slowest part of a run.  It is removed when the process exits normally
// (libFuzzer exits that way at the end of a bounded run); a crash leaves it
// behind beside the crash report.
#ifndef HOVANTRA_FUZZ_FUZZ_SUPPORT_H
#define HOVANTRA_FUZZ_FUZZ_SUPPORT_H

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

inline int ScratchRemoveEntry(const char *path, const struct stat *, int,
                              struct FTW *) {
  return remove(path);
}

inline std::string &ScratchDirName() {
  static std::string dir;
  return dir;
}

inline void RemoveScratchDir() {
  const std::string &dir = ScratchDirName();
  if (!dir.empty())
    nftw(dir.c_str(), ScratchRemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

inline const std::string &ScratchDir() {
  std::string &dir = ScratchDirName();
  if (dir.empty()) {
    struct stat st;
    std::string base =
        stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/hovantra-fuzz-XXXXXX";
    if (!mkdtemp(&tmpl[0])) {
      perror("mkdtemp");
      abort();
    }
    dir = tmpl;
    atexit(RemoveScratchDir);
  }
  return dir;
}

inline std::string ScratchPath(const char *name) {
  return ScratchDir() + "/" + name;
}

inline void WriteWholeFile(const std::string &path, const void *data,
                           size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) {
    perror(path.c_str());
    abort();
  }
}

inline void WriteWholeFile(const std::string &path, const std::string &text) {
  WriteWholeFile(path, text.data(), text.size());
}

// The file's bytes; aborts when it cannot be read, which no target expects.
inline std::string ReadWholeFile(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) {
    perror(path.c_str());
    abort();
  }
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

// A broken expectation of a target: report it the way libFuzzer reports a
// crash, with the input saved.
#define FUZZ_CHECK(cond)                                                       \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                 \
    }                                                                          \
  } while (0)

#endif
