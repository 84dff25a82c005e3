#pragma once

#include <functional>
#include <string>

namespace quarn_test {

// Where pthread_create fails with EAGAIN, as it does under a process limit
// (RLIMIT_NPROC, which does not hold for root).
enum class ThreadRefusal { None, OffMainThread, Everywhere };

// Sets where this process refuses new threads. Only inside in_child_process:
// the refusal is meant to meet the program, not the test runner.
void refuse_threads(ThreadRefusal refusal);

// Runs `body` in a forked child of this (single-threaded) process and returns
// what it returned: the failures it found, "" when there were none. A child
// that throws, dies or exits otherwise adds how it ended.
std::string in_child_process(const std::function<std::string()>& body);

}  // namespace quarn_test
