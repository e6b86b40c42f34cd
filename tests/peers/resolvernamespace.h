#pragma once
#include "skip.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

// The resolver tests run inside a network namespace with its own hosts file, made by
// resolver-netns.sh; main() starts the program again through it, which sets
// VELMARIC_RESOLVER_NETNS inside the namespace or VELMARIC_RESOLVER_NETNS_SKIP to the reason
// there is none.
#define RESOLVER_NAMESPACE_TEST_MAIN(TestObject, AppClass) \
    int main(int argc, char **argv) \
    { \
        if (!std::getenv("VELMARIC_RESOLVER_NETNS") && \
            !std::getenv("VELMARIC_RESOLVER_NETNS_SKIP")) { \
            std::vector<char *> args{const_cast<char *>(RESOLVER_NETNS_SCRIPT)}; \
            args.insert(args.end(), argv, argv + argc + 1); \
            execv(args[0], args.data()); \
            std::perror(RESOLVER_NETNS_SCRIPT); \
            return 127; \
        } \
        AppClass app(argc, argv); \
        TestObject tc; \
        return QTest::qExec(&tc, argc, argv); \
    }

#define REQUIRE_RESOLVER_NAMESPACE() \
    do { \
        if (!std::getenv("VELMARIC_RESOLVER_NETNS")) \
            VELMARIC_SKIP(std::getenv("VELMARIC_RESOLVER_NETNS_SKIP")); \
    } while (false)
