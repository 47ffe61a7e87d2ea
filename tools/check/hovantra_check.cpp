// hovantra-check [-c file] [-e]: checks a configuration file before the
// daemon runs on it.  Exit status 0 clean, 1 errors, 2 warnings only (with
// -e, warnings are shown but leave the status 0).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/check/check.h"

int main(int argc, char **argv) {
  std::string path = "hovantra.ini";
  bool errors_only = false;
  int opt;
  while ((opt = getopt(argc, argv, "c:eh")) != -1) {
    switch (opt) {
      case 'c':
        path = optarg;
        break;
      case 'e':
        errors_only = true;
        break;
      default:
        fprintf(stderr, "usage: hovantra-check [-c file] [-e]\n");
        return opt == 'h' ? 0 : 1;
    }
  }
  if (optind != argc) {
    fprintf(stderr, "usage: hovantra-check [-c file] [-e]\n");
    return 1;
  }
  int status = CheckConfigurationFile(path, stdout);
  return errors_only && status == 2 ? 0 : status;
}
