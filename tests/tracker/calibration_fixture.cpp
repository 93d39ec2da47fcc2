// A loadable library for the loader tests. It keeps a count of its loaded
// copies in the environment, where a test can read it without looking inside.
#include <cstdio>
#include <cstdlib>

namespace {

void adjustLoads(int delta) {
    const char* now = std::getenv("QUORLIX_FIXTURE_LOADS");
    char text[16];
    std::snprintf(text, sizeof text, "%d", (now != nullptr ? std::atoi(now) : 0) + delta);
    setenv("QUORLIX_FIXTURE_LOADS", text, 1);
}

struct Presence {
    Presence() { adjustLoads(1); }
    ~Presence() { adjustLoads(-1); }
} presence;

}  // namespace
