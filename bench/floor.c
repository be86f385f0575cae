/* The floor of the benchmark: the least any tool can do to restore a tree on this file system.
 * It reads a list prepared before the timing, in one read, then does exactly the renames and the
 * directory removals of a restore in a bare loop, and nothing else: no listing, no checks, no
 * output. Each line of the list is "R<TAB>from<TAB>to" or "D<TAB>directory", in order.
 *
 *   floor LIST */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int fd = open(argv[1], O_RDONLY);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) return 1;
  char* list = malloc((size_t)status.st_size + 1);
  if (list == NULL || read(fd, list, (size_t)status.st_size) != status.st_size) return 1;
  list[status.st_size] = '\0';
  close(fd);
  for (char* line = list; *line != '\0';) {
    char* end = strchr(line, '\n');
    *end = '\0';
    if (line[0] == 'R') {
      char* to = strchr(line + 2, '\t');
      *to = '\0';
      rename(line + 2, to + 1);
    } else {
      rmdir(line + 2);
    }
    line = end + 1;
  }
  return 0;
}
