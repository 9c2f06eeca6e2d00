/* /init of the throw-away guest that run.sh boots: runs /run/program with
   the NUL-separated arguments and environment in /run/args and /run/env,
   its standard output and error both on the second serial port, then says
   on the console (first serial port) how it ended:
       @@EXIT n@@      normal exit with status n
       @@SIGNAL n@@    killed by signal n
   and powers the machine off, which ends the emulator. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static int console = -1;

static void say(const char* text)
{
    if (console >= 0) {
        (void)!write(console, text, strlen(text));
        tcdrain(console);
    }
}

static void poweroff(void)
{
    sync();
    /* The emulator quits when "Shutdown" is written to its port 0x8900. */
    if (ioperm(0x8900, 1, 1) == 0) {
        for (const char* p = "Shutdown"; *p; ++p) {
            outb((unsigned char)*p, 0x8900);
        }
    }
    reboot(RB_POWER_OFF);
    for (;;) {
        pause();
    }
}

/* Raw 8-bit output: no "\n" to "\r\n" translation. */
static int openserial(const char* path)
{
    const int fd = open(path, O_RDWR | O_NOCTTY);
    struct termios t;
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~HUPCL;
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

/* A file of NUL-terminated entries as a NULL-terminated vector, with
   `first` in front unless it is NULL. */
static char** readlist(const char* path, char* first)
{
    static char buffer[1 << 16];
    size_t length = 0;
    const int fd = open(path, O_RDONLY);
    if (fd >= 0) {
        ssize_t got;
        while (length < sizeof buffer &&
               (got = read(fd, buffer + length, sizeof buffer - length)) > 0) {
            length += (size_t)got;
        }
        close(fd);
    }
    char* copy = malloc(length + 1);
    memcpy(copy, buffer, length);
    size_t count = first != NULL;
    for (size_t i = 0; i < length; ++i) {
        count += copy[i] == '\0';
    }
    char** list = calloc(count + 1, sizeof *list);
    size_t k = 0;
    if (first != NULL) {
        list[k++] = first;
    }
    for (size_t start = 0, i = 0; i < length; ++i) {
        if (copy[i] == '\0') {
            list[k++] = copy + start;
            start = i + 1;
        }
    }
    return list;
}

int main(void)
{
    mkdir("/dev", 0755);
    mount("devtmpfs", "/dev", "devtmpfs", 0, NULL);
    console = open("/dev/ttyS0", O_WRONLY | O_NOCTTY);
    mkdir("/proc", 0555);
    mount("proc", "/proc", "proc", 0, NULL);
    mkdir("/sys", 0555);
    mount("sysfs", "/sys", "sysfs", 0, NULL);
    mkdir("/tmp", 01777);
    mount("tmpfs", "/tmp", "tmpfs", 0, NULL);

    const int output = openserial("/dev/ttyS1");
    if (output < 0) {
        say("@@INIT-FAILED no output port@@\n");
        poweroff();
    }
    char** argv = readlist("/run/args", "program");
    char** envp = readlist("/run/env", NULL);

    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(output, 1);
        dup2(output, 2);
        setsid();
        (void)!chdir("/tmp");
        execve("/run/program", argv, envp);
        dprintf(2, "cannot execute the program: %s\n", strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    tcdrain(output);
    char line[64];
    if (pid > 0 && WIFEXITED(status)) {
        snprintf(line, sizeof line, "\n@@EXIT %d@@\n", WEXITSTATUS(status));
    } else if (pid > 0 && WIFSIGNALED(status)) {
        snprintf(line, sizeof line, "\n@@SIGNAL %d@@\n", WTERMSIG(status));
    } else {
        snprintf(line, sizeof line, "\n@@INIT-FAILED fork@@\n");
    }
    say(line);
    poweroff();
    return 0;
}
