#pragma once
#include <functional>

// A network namespace whose resolver answers only from its own hosts file: `ip netns exec`
// mounts /etc/netns/<name>/{hosts,nsswitch.conf,host.conf,resolv.conf} over /etc, and the
// namespace has nothing but its own loopback, so no look-up leaves it.
namespace ResolverNamespace {

// Listed in this order; the first is neither loopback nor routable, so getaddrinfo's
// destination sorting would move the loopback address ahead of it.
inline constexpr const char *MultiName = "multi.velmaric.test";
inline constexpr const char *MultiAlias = "multi";
inline constexpr const char *MultiAddresses[] = {"192.0.2.7", "127.0.0.9", "10.1.2.3"};
// One address with one registered name.
inline constexpr const char *ReverseAddress = "203.0.113.5";
inline constexpr const char *ReverseName = "reverse.velmaric.test";
// A long name, to see it comes back whole.
inline constexpr const char *LongAddress = "203.0.113.6";
const char *longName();
// Nothing is registered for these.
inline constexpr const char *UnknownAddress = "203.0.113.99";
inline constexpr const char *UnknownName = "nothere.velmaric.test";

// True in the process that runs inside the namespace.
bool inside();
// Why the namespace is not there (for QSKIP); only meaningful when !inside().
const char *skipReason();

// Called from main(): as root, creates the namespace, runs this same program inside it with
// the same arguments, deletes namespace and files again (also after a crash of the inner
// run) and returns the inner exit code. Without root or the ip tool, runs testMain here and
// namespace tests skip. Inside the namespace, runs testMain.
int run(int argc, char **argv, const std::function<int(int, char **)> &testMain);

} // namespace ResolverNamespace

#define RESOLVER_NAMESPACE_TEST_MAIN(TestObject, AppClass)                                     \
    int main(int argc, char **argv)                                                            \
    {                                                                                          \
        return ResolverNamespace::run(argc, argv, [](int ac, char **av) {                     \
            AppClass app(ac, av);                                                              \
            TestObject tc;                                                                     \
            return QTest::qExec(&tc, ac, av);                                                  \
        });                                                                                    \
    }

#define REQUIRE_RESOLVER_NAMESPACE()                                                           \
    do {                                                                                       \
        if (!ResolverNamespace::inside())                                                      \
            QSKIP(ResolverNamespace::skipReason());                                            \
    } while (false)
