// What the Windows programs will ask of the static libpq, one question per argument, answered
// on standard output (tests/wine/libpq_link.sh compares the answers).
#include <libpq-fe.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A port nothing listens on: the connection is refused at once, no server needed.
constexpr const char* kRefused = "host=127.0.0.1 port=1 connect_timeout=2";

int refused() {
    PGconn* c = PQconnectdb(kRefused);
    std::printf("%s %s", PQstatus(c) == CONNECTION_BAD ? "BAD" : "OK", PQerrorMessage(c));
    PQfinish(c);
    return 0;
}

int bad_option() {
    PGconn* c = PQconnectdb("nosuchoption=1");
    std::printf("%s %s", PQstatus(c) == CONNECTION_BAD ? "BAD" : "OK", PQerrorMessage(c));
    PQfinish(c);
    return 0;
}

int parse() {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse("host=db.line port=5433 dbname=vrk", &error);
    if (options == nullptr) {
        std::printf("error %s", error != nullptr ? error : "(none)");
        PQfreemem(error);
        return 1;
    }
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val != nullptr) std::printf("%s=%s\n", o->keyword, o->val);
    }
    PQconninfoFree(options);
    return 0;
}

int md5_password() {
    char* hashed = PQencryptPassword("secret", "vrk");
    std::printf("%s\n", hashed != nullptr ? hashed : "(null)");
    PQfreemem(hashed);
    return 0;
}

// Stations run one session per port on threads of their own, each with std::mutex; libpq's own
// locking runs beside them.
int threads() {
    std::mutex m;
    std::atomic<int> bad{0};
    int locked = 0;
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            PGconn* c = PQconnectdb(kRefused);
            if (PQstatus(c) == CONNECTION_BAD) ++bad;
            PQfinish(c);
            std::lock_guard<std::mutex> l(m);
            ++locked;
        });
    }
    for (auto& w : workers) w.join();
    std::printf("threadsafe=%d bad=%d locked=%d\n", PQisthreadsafe(), bad.load(), locked);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "version") return std::printf("%d\n", PQlibVersion()) > 0 ? 0 : 1;
    if (what == "refused") return refused();
    if (what == "bad-option") return bad_option();
    if (what == "parse") return parse();
    if (what == "md5") return md5_password();
    if (what == "threads") return threads();
    std::fprintf(stderr, "usage: libpq_probe version|refused|bad-option|parse|md5|threads\n");
    return 2;
}
