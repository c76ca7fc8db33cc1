/* Helpers for the fuser/lsof comparison, built by run.sh:
 *   bench_tool hold READY_DIR FILE...   open every FILE, create READY_DIR/<pid>, sleep until killed
 *   bench_tool scan                     stat every /proc/<pid>/fd entry once (the bare floor)
 *   bench_tool measure RUNS CMD ARG...  run CMD RUNS times (output discarded); print the wall
 *                                       time of each run in ms, then the peak RSS in KiB */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int hold(int argc, char** argv) {
    if (argc < 3) return 2;
    for (int i = 3; i < argc; ++i) {
        if (open(argv[i], O_RDONLY | O_CLOEXEC) < 0) {
            perror(argv[i]);
            return 1;
        }
    }
    char marker[4096];
    snprintf(marker, sizeof(marker), "%s/%d", argv[2], (int)getpid());
    int fd = open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return 1;
    close(fd);
    for (;;) pause();
}

static int scan(void) {
    int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* processes = fdopendir(proc);
    if (processes == NULL) return 1;
    unsigned long entries = 0;
    struct dirent* process;
    while ((process = readdir(processes)) != NULL) {
        if (process->d_name[0] < '1' || process->d_name[0] > '9') continue;
        char path[300];
        snprintf(path, sizeof(path), "%s/fd", process->d_name);
        int fdDir = openat(proc, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0) continue;
        DIR* fds = fdopendir(fdDir);
        if (fds == NULL) {
            close(fdDir);
            continue;
        }
        struct dirent* fd;
        while ((fd = readdir(fds)) != NULL) {
            struct stat st;
            if (fd->d_name[0] != '.' && fstatat(fdDir, fd->d_name, &st, 0) == 0) ++entries;
        }
        closedir(fds);
    }
    closedir(processes);
    printf("%lu\n", entries);
    return 0;
}

static int measure(int argc, char** argv) {
    if (argc < 4) return 2;
    int runs = atoi(argv[2]);
    long peakKib = 0;
    for (int run = 0; run < runs; ++run) {
        struct timespec start, end;
        clock_gettime(CLOCK_MONOTONIC, &start);
        pid_t child = fork();
        if (child == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execvp(argv[3], argv + 3);
            _exit(127);
        }
        int status = 0;
        struct rusage usage;
        if (child < 0 || wait4(child, &status, 0, &usage) != child) return 1;
        clock_gettime(CLOCK_MONOTONIC, &end);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return 127;
        if (usage.ru_maxrss > peakKib) peakKib = usage.ru_maxrss;
        printf("%.3f\n", (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6);
    }
    printf("rss %ld\n", peakKib);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "hold") == 0) return hold(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "scan") == 0) return scan();
    if (argc >= 2 && strcmp(argv[1], "measure") == 0) return measure(argc, argv);
    fprintf(stderr, "usage: bench_tool hold DIR FILE... | scan | measure RUNS CMD ARG...\n");
    return 2;
}
