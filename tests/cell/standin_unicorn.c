/* A stand-in for libunicorn, for the cell's tests alone: built as
 * libunicorn.so.2 and found before the real one through LD_LIBRARY_PATH,
 * it does, in the image's process, what an emulator taken over by an image
 * could do, the moment the emulation starts. SAMBREL_STANDIN names the
 * deed, and for some a path after a colon. sambrel itself is not changed. */
#include <unicorn/unicorn.h>

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

/* The results' descriptor in the image's process, and its frames: a tag,
 * a length of four bytes, the payload. */
enum { kResults = 3 };

static void Frame(char tag, uint32_t size, const void *payload)
{
    char header[5] = {tag, (char)size, (char)(size >> 8), (char)(size >> 16), (char)(size >> 24)};
    if (write(kResults, header, 5) != 5 || (payload && write(kResults, payload, size) != (ssize_t)size))
        _exit(3);
}

/* With SAMBREL_STANDIN=frames:PATH, the file's bytes, read as the library
 * is loaded (before the cell, which opens no file). */
static char *gFrames;
static size_t gFramesSize;

__attribute__((constructor)) static void ReadFrames(void)
{
    const char *deed = getenv("SAMBREL_STANDIN");
    if (!deed || strncmp(deed, "frames:", 7))
        return;
    int fd = open(deed + 7, O_RDONLY);
    off_t size = fd < 0 ? -1 : lseek(fd, 0, SEEK_END);
    if (size <= 0 || !(gFrames = malloc((size_t)size)) || pread(fd, gFrames, (size_t)size, 0) != size)
        abort();
    gFramesSize = (size_t)size;
    close(fd);
}

/* The outcome a well-behaved run begins with: exit code 1, a changed registry. */
static void Outcome(void) { Frame('o', 5, "\1\0\0\0\1"); }

/* Registry text, its first two bytes a byte order mark and the rest ASCII
 * widened to UTF-16, handed back in blocks as sambrel's own process hands
 * them (a block is handed back once full). */
static void RegistryText(const char *ascii)
{
    static char block[128 * 1024];
    static size_t n;
    if ((unsigned char)ascii[0] == 0xFF) {
        block[n++] = (char)0xFF, block[n++] = (char)0xFE;
        ascii += 2;
    }
    for (; *ascii; ++ascii) {
        if (n + 2 > sizeof block) {
            Frame('R', (uint32_t)n, block);
            n = 0;
        }
        block[n++] = *ascii, block[n++] = 0;
    }
}

static uc_err Deed(const char *deed, const char *path)
{
    static char chunk[1 << 20];
    if (!strcmp(deed, "crash")) {
        *(volatile int *)64 = 1; /* not null, which the sanitizers' build would catch first */
    } else if (!strcmp(deed, "write-file")) {
        int fd = open(path, O_WRONLY | O_APPEND);
        if (write(fd, "[HKEY_LOCAL_MACHINE\\Owned]\r\n", 28) < 0)
            return UC_ERR_EXCEPTION;
    } else if (!strcmp(deed, "create-file")) {
        close(open(path, O_WRONLY | O_CREAT, 0644));
    } else if (!strcmp(deed, "connect")) {
        struct sockaddr_un to = {.sun_family = AF_UNIX};
        strncpy(to.sun_path, path, sizeof to.sun_path - 1);
        connect(socket(AF_UNIX, SOCK_STREAM, 0), (struct sockaddr *)&to, sizeof to);
    } else if (!strcmp(deed, "run-program")) {
        char *argv[] = {"sh", "-c", "echo owned > \"$0\"", (char *)path, NULL};
        execv("/bin/sh", argv);
    } else if (!strcmp(deed, "fork")) {
        if (fork() == 0) {
            close(open(path, O_WRONLY | O_CREAT, 0644));
            _exit(0);
        }
    } else if (!strcmp(deed, "kill")) {
        kill(atoi(path), SIGKILL);
    } else if (!strcmp(deed, "kill-group")) {
        kill(0, SIGKILL);
    } else if (!strcmp(deed, "ptrace")) {
        ptrace(PTRACE_ATTACH, atoi(path), 0, 0);
    } else if (!strcmp(deed, "other-descriptor")) {
        write(4, "owned", 5);
    } else if (!strcmp(deed, "standard-error")) {
        write(2, "owned\n", 6);
    } else if (!strcmp(deed, "type-into-terminal")) {
        ioctl(0, TIOCSTI, "x");
    } else if (!strcmp(deed, "scramble-terminal")) {
        struct termios modes;
        tcgetattr(0, &modes);
        modes.c_lflag &= ~(tcflag_t)(ECHO | ICANON | ISIG);
        tcsetattr(0, TCSANOW, &modes);
        Frame('f', 22, "the stand-in's fault\r\n"); /* and ends at once, as no image's run does */
        _exit(0);
    } else if (!strcmp(deed, "memory")) {
        /* 8 GiB of address space: more than the cell allows. */
        if (mmap(NULL, (size_t)8 << 30, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0) ==
            MAP_FAILED)
            return UC_ERR_NOMEM;
    } else if (!strcmp(deed, "spin")) {
        for (volatile unsigned long n = 0;; ++n) {
        }
    } else if (!strcmp(deed, "size-lie")) {
        Frame('o', 0xFFFFFFFFu, NULL);
        _exit(0);
    } else if (!strcmp(deed, "flood")) {
        Outcome();
        for (;;)
            Frame('p', sizeof chunk, chunk);
    } else if (!strcmp(deed, "cut-short")) {
        Outcome();
        Frame('p', 100, NULL); /* and not the 100 bytes it says */
        _exit(0);
    } else if (!strcmp(deed, "bad-registry")) {
        Outcome();
        Frame('R', 9, "REGEDIT4\n");
        Frame('R', 13, "[NOT_A_ROOT]\n");
        Frame('E', 0, NULL);
        Frame('z', 0, NULL);
        _exit(0);
    } else if (!strcmp(deed, "large-block")) {
        Outcome();
        Frame('R', sizeof chunk, chunk);
        _exit(0);
    } else if (!strcmp(deed, "hang")) {
        static int word;
        for (;;)
            syscall(SYS_futex, &word, FUTEX_WAIT, 0, NULL, NULL, 0);
    } else if (!strcmp(deed, "term-query")) {
        write(1, "\033[6n", 4); /* the terminal answers where its cursor is */
    } else if (!strcmp(deed, "term-modes")) {
        /* keypad keys, mouse reports, reverse video, and a device control
         * string left open, in which a terminal would swallow a reset */
        write(1, "\033[?1h\033=\033[?1000h\033[?5h\033P", 22);
    } else if (!strcmp(deed, "forbidden-then-wait")) {
        Frame('#', 4, "\73\0\0\0"); /* as the cell says of a forbidden call, and then it does not end */
        static int word;
        for (;;)
            syscall(SYS_futex, &word, FUTEX_WAIT, 0, NULL, NULL, 0);
    } else if (!strcmp(deed, "key-flood")) {
        /* A registry of keys alone, each the most memory for its bytes,
         * until sambrel stops reading. */
        Outcome();
        RegistryText("\xFF\xFEWindows Registry Editor Version 5.00\n");
        for (unsigned long key = 1;; ++key) {
            char line[40];
            snprintf(line, sizeof line, "[HKEY_USERS\\%lx]\n", key);
            RegistryText(line);
        }
    } else if (!strcmp(deed, "tiny-messages")) {
        Outcome();
        for (;;)
            Frame('m', 4, "\0\0\0\0"); /* a box without caption or text */
    } else if (!strcmp(deed, "empty-frames")) {
        Outcome();
        for (;;)
            Frame('p', 0, NULL);
    } else if (!strcmp(deed, "frames")) {
        /* The frames read from the file as the library was loaded, before
         * the cell: a result made by the test. */
        if (write(kResults, gFrames, gFramesSize) != (ssize_t)gFramesSize)
            _exit(3);
        _exit(0);
    } else if (!strcmp(deed, "exit-code")) {
        Frame('o', 5, "\x40\0\0\0\1");
        _exit(0);
    }
    return UC_ERR_OK;
}

uc_err uc_emu_start(uc_engine *uc, uint64_t begin, uint64_t until, uint64_t timeout, size_t count)
{
    (void)uc, (void)begin, (void)until, (void)timeout, (void)count;
    const char *deed = getenv("SAMBREL_STANDIN");
    char name[64] = "";
    const char *path = "";
    if (deed) {
        strncpy(name, deed, sizeof name - 1);
        char *colon = strchr(name, ':');
        if (colon) {
            *colon = 0;
            path = deed + (colon - name) + 1;
        }
    }
    return Deed(name, path);
}

/* The rest does nothing, and succeeds. */
uc_err uc_open(uc_arch arch, uc_mode mode, uc_engine **uc)
{
    (void)arch, (void)mode;
    static char engine;
    *uc = (uc_engine *)&engine;
    return UC_ERR_OK;
}
uc_err uc_close(uc_engine *uc) { return (void)uc, UC_ERR_OK; }
uc_err uc_ctl(uc_engine *uc, uc_control_type control, ...) { return (void)uc, (void)control, UC_ERR_OK; }
uc_err uc_hook_add(uc_engine *uc, uc_hook *hh, int type, void *callback, void *user_data, uint64_t begin, uint64_t end,
                   ...)
{
    (void)uc, (void)hh, (void)type, (void)callback, (void)user_data, (void)begin, (void)end;
    return UC_ERR_OK;
}
uc_err uc_emu_stop(uc_engine *uc) { return (void)uc, UC_ERR_OK; }
uc_err uc_mem_map(uc_engine *uc, uint64_t address, size_t size, uint32_t perms)
{
    return (void)uc, (void)address, (void)size, (void)perms, UC_ERR_OK;
}
uc_err uc_mem_read(uc_engine *uc, uint64_t address, void *bytes, size_t size)
{
    (void)uc, (void)address;
    memset(bytes, 0, size);
    return UC_ERR_OK;
}
uc_err uc_mem_write(uc_engine *uc, uint64_t address, const void *bytes, size_t size)
{
    return (void)uc, (void)address, (void)bytes, (void)size, UC_ERR_OK;
}
uc_err uc_reg_read(uc_engine *uc, int regid, void *value)
{
    (void)uc, (void)regid;
    memset(value, 0, 4);
    return UC_ERR_OK;
}
uc_err uc_reg_write(uc_engine *uc, int regid, const void *value) { return (void)uc, (void)regid, (void)value, UC_ERR_OK; }
const char *uc_strerror(uc_err code) { return code == UC_ERR_NOMEM ? "out of memory (the stand-in's)" : "the stand-in's error"; }
