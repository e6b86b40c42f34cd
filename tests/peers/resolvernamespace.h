#pragma once
#include "skip.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

// The resolver tests run inside a network namespace with its own hosts file, made by
// resolver-netns.sh; main() starts the program again through it, which sets
// VELMARIC_RESOLVER_NETNS inside the namespace or VELMARIC_RESOLVER_NETNS_SKIP to the reason
// there is none. The SILENT_DNS variant's namespace sends names missing from its hosts file to
// a DNS server that never answers.
#define RESOLVER_NAMESPACE_TEST_MAIN(TestObject, AppClass) \
    RESOLVER_NAMESPACE_MAIN_WITH(TestObject, AppClass, "files")
#define SILENT_DNS_NAMESPACE_TEST_MAIN(TestObject, AppClass) \
    RESOLVER_NAMESPACE_MAIN_WITH(TestObject, AppClass, "silent")
#define RESOLVER_NAMESPACE_MAIN_WITH(TestObject, AppClass, dns) \
    int main(int argc, char **argv) \
    { \
        if (!std::getenv("VELMARIC_RESOLVER_NETNS") && \
            !std::getenv("VELMARIC_RESOLVER_NETNS_SKIP")) { \
            setenv("VELMARIC_RESOLVER_DNS", dns, 1); \
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
