/* Prints what ombrelt_probe says of each file named on the command line.
 * Plain C: the public header is all a host needs. */
#include <stdio.h>

#include "ombrelt.h"

int main(int argc, char **argv) {
  int status = 0;
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; i++) {
    const char *json = NULL;
    if (ombrelt_probe(argv[i], &json) == 0) {
      printf("%s\n", json);
    } else {
      fprintf(stderr, "%s: %s\n", argv[i], ombrelt_last_error());
      status = 1;
    }
  }
  return status;
}
