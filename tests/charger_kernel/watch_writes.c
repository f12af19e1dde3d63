/* Reports every write to the given files, in the order the kernel saw them, one line each:
 * "WRITE <path> <first line of the file now>" (sysfs switches such as fb blank read back
 * empty). Lets the test tell in which order the charger darkened and lit the screen. */
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/inotify.h>

int main(int argc, char** argv)
{
    int fd = inotify_init();
    if (fd < 0) { perror("inotify_init"); return 1; }
    int wd[16];
    for (int i = 1; i < argc && i < 16; ++i) {
        wd[i] = inotify_add_watch(fd, argv[i], IN_MODIFY);
        if (wd[i] < 0) { fprintf(stderr, "watch %s: ", argv[i]); perror(""); return 1; }
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    printf("WATCHING\n");
    char buf[4096] __attribute__((aligned(8)));
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return 1;
        for (char* p = buf; p < buf + n;) {
            struct inotify_event* e = (struct inotify_event*)p;
            for (int i = 1; i < argc && i < 16; ++i) {
                if (wd[i] != e->wd) continue;
                char text[64] = "";
                int f = open(argv[i], O_RDONLY);
                if (f >= 0) {
                    ssize_t k = read(f, text, sizeof text - 1);
                    text[k > 0 ? k : 0] = 0;
                    close(f);
                    text[strcspn(text, "\n")] = 0;
                }
                printf("WRITE %s %s\n", argv[i], text);
            }
            p += sizeof *e + e->len;
        }
    }
}
