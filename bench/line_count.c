/* The floor of loading a registry file: a program that reads the file in
   blocks, as sambrel does, and counts its lines (LF bytes, as wc -l), and
   nothing else. bench/regfile_speed.py builds it beside itself and
   measures sambrel's loading against it. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    static char block[1 << 16];
    size_t lines = 0;
    ssize_t n;
    int fd = argc == 2 ? open(argv[1], O_RDONLY) : -1;
    if (fd < 0) {
        perror(argc == 2 ? argv[1] : "usage: line_count FILE");
        return 2;
    }
    while ((n = read(fd, block, sizeof block)) > 0)
        for (const char *p = block, *end = block + n; (p = memchr(p, '\n', (size_t)(end - p))) != NULL; ++p)
            ++lines;
    if (n < 0) {
        perror(argv[1]);
        return 2;
    }
    printf("%zu\n", lines);
    return 0;
}
