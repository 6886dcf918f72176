// Runs a program whose every call of one system call fails with the given
// errno, as the kernel reports it (a seccomp filter installed before exec):
//   fail_syscall <recvfrom|sendto> <errno> <program> [args...]
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

#if defined(__x86_64__)
constexpr unsigned int kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned int kArch = AUDIT_ARCH_AARCH64;
#else
#error "fail_syscall: unknown architecture"
#endif

struct Call {
	const char *name;
	long nr;
};

constexpr Call kCalls[] = {{"recvfrom", __NR_recvfrom}, {"sendto", __NR_sendto}};

long call_number(const char *name)
{
	for (const Call &c : kCalls)
		if (std::strcmp(c.name, name) == 0)
			return c.nr;
	return -1;
}

bool install(long nr, unsigned int err)
{
	sock_filter code[] = {
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned int>(nr), 0, 1),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (err & SECCOMP_RET_DATA)),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
	};
	sock_fprog prog = {static_cast<unsigned short>(std::size(code)), code};
	return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

} // namespace

int main(int argc, char **argv)
{
	long nr = argc > 3 ? call_number(argv[1]) : -1;
	char *end = nullptr;
	long err = argc > 3 ? std::strtol(argv[2], &end, 10) : 0;
	if (nr < 0 || !end || *end || err < 1 || err > 4095) {
		std::fprintf(stderr, "usage: fail_syscall <recvfrom|sendto> <errno> <program> [args...]\n");
		return 2;
	}
	if (!install(nr, static_cast<unsigned int>(err))) {
		std::perror("fail_syscall: seccomp");
		return 1;
	}
	execv(argv[3], argv + 3);
	std::perror("fail_syscall: exec");
	return 127;
}
