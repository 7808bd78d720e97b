// A Save killed mid-way, for the platform tests: takes a lock and makes a file
// beside a map, says so by creating READY, waits until READY is gone and then ends
// at once, releasing neither: the system alone lets go of them.
// Usage: platform_holder LOCKFILE MAP READY
#include "platform.h"

#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    const auto args = platform::utf8Arguments(argc, argv);
    if (args.size() != 4)
        return 2;
    const auto lock = platform::Lock::tryTake(platform::fromUtf8(args[1]));
    if (!lock)
        return 3;
    const platform::File beside = platform::createBeside(platform::fromUtf8(args[2]));
    const platform::Path ready = platform::fromUtf8(args[3]);
    platform::File(ready, platform::File::Mode::Create).close();
    for (int i = 0; i < 6000 && platform::status(ready).kind != platform::Kind::Missing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::_Exit(0);
}
