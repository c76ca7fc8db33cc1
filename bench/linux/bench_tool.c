/* Helpers for the fuser/lsof/lsfd comparison, built by run.sh:
 *   bench_tool hold READY_DIR [-c DIR] [-M FILE] FILE...
 *                     open every FILE (-c: make DIR the current folder; -M: map FILE and close
 *                     its descriptor, so only the mapping holds it), create READY_DIR/<pid>,
 *                     sleep until killed
 *   bench_tool files DIR COUNT
 *                     create DIR/e0 ... DIR/e<COUNT-1>, empty
 *   bench_tool tree DIR TOP SUB FILES
 *                     create TOP folders of SUB folders of FILES empty files each
 *                     (DIR/aT/bS/fF)
 *   bench_tool scan [full]
 *                     stat every /proc/<pid>/fd entry once (the bare floor); with "full" also
 *                     stat every process's cwd and root and read its maps, which any answer
 *                     that counts current folders and mapped files must do too
 *   bench_tool measure RUNS CMD ARG...
 *                     run CMD RUNS times (output discarded); print the wall time and the CPU
 *                     time (user and system) of each run in ms, then "rss" and the peak RSS
 *                     of the runs in KiB */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int hold(int argc, char** argv) {
    if (argc < 3) return 2;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "-c") == 0 && i + 1 < argc) {
            if (chdir(argv[++i]) != 0) {
                perror(argv[i]);
                return 1;
            }
        } else if (strcmp(argv[i], "-M") == 0 && i + 1 < argc) {
            const char* name = argv[++i];
            int fd = open(name, O_RDONLY | O_CLOEXEC);
            /* A file of length 0 cannot be mapped: the caller gives one with data. */
            if (fd < 0 || mmap(NULL, 1, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED) {
                perror(name);
                return 1;
            }
            close(fd);
        } else if (open(argv[i], O_RDONLY | O_CLOEXEC) < 0) {
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

static int make_file(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror(path);
        return 0;
    }
    close(fd);
    return 1;
}

static int make_folder(const char* path) {
    if (mkdir(path, 0755) == 0 || errno == EEXIST) return 1;
    perror(path);
    return 0;
}

static int files(int argc, char** argv) {
    if (argc != 4 || !make_folder(argv[2])) return 2;
    int count = atoi(argv[3]);
    char path[4096];
    for (int i = 0; i < count; ++i) {
        snprintf(path, sizeof(path), "%s/e%d", argv[2], i);
        if (!make_file(path)) return 1;
    }
    return 0;
}

static int tree(int argc, char** argv) {
    if (argc != 6 || !make_folder(argv[2])) return 2;
    int top = atoi(argv[3]), sub = atoi(argv[4]), each = atoi(argv[5]);
    char path[4096];
    for (int t = 0; t < top; ++t) {
        snprintf(path, sizeof(path), "%s/a%d", argv[2], t);
        if (!make_folder(path)) return 1;
        for (int s = 0; s < sub; ++s) {
            snprintf(path, sizeof(path), "%s/a%d/b%d", argv[2], t, s);
            if (!make_folder(path)) return 1;
            for (int f = 0; f < each; ++f) {
                snprintf(path, sizeof(path), "%s/a%d/b%d/f%d", argv[2], t, s, f);
                if (!make_file(path)) return 1;
            }
        }
    }
    return 0;
}

static int scan(int full) {
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
        if (!full) continue;
        static const char* const folders[] = {"cwd", "root"};
        for (int i = 0; i < 2; ++i) {
            struct stat st;
            snprintf(path, sizeof(path), "%s/%s", process->d_name, folders[i]);
            if (fstatat(proc, path, &st, 0) == 0) ++entries;
        }
        snprintf(path, sizeof(path), "%s/maps", process->d_name);
        int maps = openat(proc, path, O_RDONLY | O_CLOEXEC);
        if (maps < 0) continue;
        char text[16384];
        while (read(maps, text, sizeof(text)) > 0) continue;
        close(maps);
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
        printf("%.3f %.3f\n",
               (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6,
               (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
    }
    printf("rss %ld\n", peakKib);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "hold") == 0) return hold(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "files") == 0) return files(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "tree") == 0) return tree(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "scan") == 0)
        return scan(argc >= 3 && strcmp(argv[2], "full") == 0);
    if (argc >= 2 && strcmp(argv[1], "measure") == 0) return measure(argc, argv);
    fprintf(stderr,
            "usage: bench_tool hold DIR [-c DIR] [-M FILE] FILE... | files DIR COUNT |"
            " tree DIR TOP SUB FILES | scan [full] | measure RUNS CMD ARG...\n");
    return 2;
}
