/* Runs commands interleaved and reports, per command, the median wall time,
 * the median CPU time (user + system) and the peak resident memory, with the
 * ratio of each median to a baseline command's.
 *
 *   runstat [-r ROUNDS] [-w WARMUP] [-b BASE] PLAN
 *
 * PLAN holds one command a line, fields separated by tabs (none empty):
 *
 *   LABEL <TAB> SINK <TAB> PROGRAM <TAB> ARG...
 *
 * LABEL is NAME:OPERATION; with -b BASE, each NAME:OPERATION is compared with
 * BASE:OPERATION. SINK is where the command's standard output goes: "null"
 * (/dev/null) or "pipe" (a pipe that runstat drains and discards; the wall
 * time then includes the draining). Blank lines split the plan into groups
 * whose lines always run in order (an add and the del that undoes it). Each
 * round runs every group once, starting one group further on than the round
 * before, so no command always runs first or right after the same one.
 * A command that exits with a status other than 0 stops everything. */
#define _DEFAULT_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { MAX_COMMANDS = 256, MAX_ARGS = 32, MAX_ROUNDS = 10000 };

struct command {
    char label[64];
    int to_pipe;
    int group;
    char *argv[MAX_ARGS + 1];
    double *wall; /* milliseconds, one per measured round */
    double *cpu;
    long peak_kib;
};

static struct command commands[MAX_COMMANDS];
static int command_count;
static int group_count;

static double seconds_of(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

static void die(const char *what) {
    perror(what);
    exit(2);
}

/* Runs one command once; returns its wall and CPU time in milliseconds. */
static void run_once(struct command *c, double *wall, double *cpu, long *peak_kib) {
    int channel[2] = {-1, -1};
    if (c->to_pipe && pipe(channel) != 0) die("pipe");
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child < 0) die("fork");
    if (child == 0) {
        int out = c->to_pipe ? channel[1] : open("/dev/null", O_WRONLY);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
        if (c->to_pipe) {
            close(channel[0]);
            close(channel[1]);
        } else {
            close(out);
        }
        execvp(c->argv[0], c->argv);
        _exit(127);
    }
    if (c->to_pipe) {
        close(channel[1]);
        static char sink[1 << 16];
        while (read(channel[0], sink, sizeof sink) > 0) {
        }
        close(channel[0]);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) die("wait4");
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "runstat: %s failed (status %d):", c->label, status);
        for (char **a = c->argv; *a != NULL; ++a) fprintf(stderr, " %s", *a);
        fputc('\n', stderr);
        exit(1);
    }
    *wall = (double)(end.tv_sec - start.tv_sec) * 1e3 + (double)(end.tv_nsec - start.tv_nsec) / 1e6;
    *cpu = (seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime)) * 1e3;
    *peak_kib = usage.ru_maxrss; /* KiB on Linux and FreeBSD */
}

static void read_plan(const char *path) {
    FILE *plan = fopen(path, "r");
    if (plan == NULL) die(path);
    static char line[8192];
    int new_group = 1;
    while (fgets(line, sizeof line, plan) != NULL) {
        line[strcspn(line, "\n")] = '\0';
        if (line[0] == '\0') {
            new_group = 1;
            continue;
        }
        if (command_count == MAX_COMMANDS) {
            fputs("runstat: too many commands\n", stderr);
            exit(2);
        }
        if (new_group) ++group_count;
        new_group = 0;
        struct command *c = &commands[command_count++];
        c->group = group_count - 1;
        char *fields = strdup(line);
        char *field[MAX_ARGS + 2];
        int n = 0;
        for (char *f = strtok(fields, "\t"); f != NULL && n < MAX_ARGS + 2; f = strtok(NULL, "\t"))
            field[n++] = f;
        if (n < 3) {
            fprintf(stderr, "runstat: bad plan line: %s\n", line);
            exit(2);
        }
        snprintf(c->label, sizeof c->label, "%s", field[0]);
        c->to_pipe = strcmp(field[1], "pipe") == 0;
        for (int i = 2; i < n; ++i) c->argv[i - 2] = field[i];
        c->argv[n - 2] = NULL;
    }
    fclose(plan);
}

static int compare_doubles(const void *a, const void *b) {
    const double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *values, int n) {
    qsort(values, (size_t)n, sizeof *values, compare_doubles);
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int main(int argc, char **argv) {
    int rounds = 20, warmup = 2;
    const char *base = NULL;
    int option;
    while ((option = getopt(argc, argv, "r:w:b:")) != -1) {
        if (option == 'r') rounds = atoi(optarg);
        else if (option == 'w') warmup = atoi(optarg);
        else if (option == 'b') base = optarg;
        else return 2;
    }
    if (optind + 1 != argc || rounds < 1 || rounds > MAX_ROUNDS || warmup < 0) {
        fputs("usage: runstat [-r ROUNDS] [-w WARMUP] [-b BASE] PLAN\n", stderr);
        return 2;
    }
    read_plan(argv[optind]);
    for (int i = 0; i < command_count; ++i) {
        commands[i].wall = calloc((size_t)rounds, sizeof(double));
        commands[i].cpu = calloc((size_t)rounds, sizeof(double));
        if (commands[i].wall == NULL || commands[i].cpu == NULL) die("calloc");
    }

    for (int round = -warmup; round < rounds; ++round) {
        const int first = (round + warmup) % group_count;
        for (int g = 0; g < group_count; ++g) {
            const int group = (first + g) % group_count;
            for (int i = 0; i < command_count; ++i) {
                struct command *c = &commands[i];
                if (c->group != group) continue;
                double wall, cpu;
                long peak;
                run_once(c, &wall, &cpu, &peak);
                if (round < 0) continue;
                c->wall[round] = wall;
                c->cpu[round] = cpu;
                if (peak > c->peak_kib) c->peak_kib = peak;
            }
        }
    }

    double wall_median[MAX_COMMANDS], cpu_median[MAX_COMMANDS];
    for (int i = 0; i < command_count; ++i) {
        wall_median[i] = median(commands[i].wall, rounds);
        cpu_median[i] = median(commands[i].cpu, rounds);
    }
    printf("%-22s %6s %10s %10s %10s %8s %8s\n", "command", "runs", "wall ms", "cpu ms",
           "peak KiB", "wall x", "cpu x");
    for (int i = 0; i < command_count; ++i) {
        const struct command *c = &commands[i];
        printf("%-22s %6d %10.3f %10.3f %10ld", c->label, rounds, wall_median[i], cpu_median[i],
               c->peak_kib);
        const char *operation = strchr(c->label, ':');
        int reference = -1;
        if (base != NULL && operation != NULL) {
            for (int j = 0; j < command_count; ++j) {
                const char *other = strchr(commands[j].label, ':');
                if (other != NULL && strcmp(other, operation) == 0 &&
                    (size_t)(other - commands[j].label) == strlen(base) &&
                    strncmp(commands[j].label, base, strlen(base)) == 0)
                    reference = j;
            }
        }
        if (reference >= 0 && wall_median[reference] > 0 && cpu_median[reference] > 0)
            printf(" %8.3f %8.3f", wall_median[i] / wall_median[reference],
                   cpu_median[i] / cpu_median[reference]);
        putchar('\n');
    }
    return 0;
}
