// SPDX-License-Identifier: GPL-2.0
/* Runner of the KTEST cases, one forked process per case. */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <kxhost/bug.h>
#include "ktest.h"

static struct ktest_case *head, **tail = &head;
static int failures;
int ktest_row = -1;

void ktest_register(struct ktest_case *tc)
{
	*tail = tc;
	tail = &tc->next;
}

void ktest_fail(const char *file, int line, const char *fmt, ...)
{
	va_list ap;

	fprintf(stderr, "%s:%d: ", file, line);
	if (ktest_row >= 0)
		fprintf(stderr, "row %d: ", ktest_row);
	va_start(ap, fmt);
	vfprintf(stderr, fmt, ap);
	va_end(ap);
	fputc('\n', stderr);
	failures++;
}

/* fn in a child process, given a minute; its wait status */
static int run_forked(void (*fn)(void))
{
	pid_t pid;
	int status;

	fflush(stdout);
	fflush(stderr);
	pid = fork();
	if (pid < 0) {
		perror("fork");
		exit(2);
	}
	if (!pid) {
		alarm(60);
		fn();
		if (kxh_warn_count()) {
			fprintf(stderr, "%u WARN_ON()s fired\n", kxh_warn_count());
			failures++;
		}
		fflush(stdout);
		fflush(stderr);
		_exit(failures ? 1 : 0);
	}
	if (waitpid(pid, &status, 0) < 0) {
		perror("waitpid");
		exit(2);
	}
	return status;
}

int ktest_aborts(void (*fn)(void))
{
	int status = run_forked(fn);

	return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
}

int ktest_passes(void (*fn)(void))
{
	int status = run_forked(fn);

	return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static int run_case(struct ktest_case *tc)
{
	int status = run_forked(tc->fn);

	if (WIFSIGNALED(status))
		fprintf(stderr, "  killed by signal %d\n", WTERMSIG(status));
	return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int main(int argc, char **argv)
{
	struct ktest_case *tc;
	int passed = 0, failed = 0;

	setvbuf(stdout, NULL, _IONBF, 0);
	for (tc = head; tc; tc = tc->next) {
		if (argc > 1 && !strstr(tc->name, argv[1]))
			continue;
		printf("[ RUN  ] %s\n", tc->name);
		if (run_case(tc)) {
			printf("[   OK ] %s\n", tc->name);
			passed++;
		} else {
			printf("[ FAIL ] %s\n", tc->name);
			failed++;
		}
	}
	printf("%d passed, %d failed\n", passed, failed);
	return failed || !passed ? 1 : 0;
}
