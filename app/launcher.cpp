// daling: the program's command. The emergency command is answered here, in
// plain C++, without loading Qt Widgets or libmpv (mapping their 240
// libraries takes the dynamic loader about 60 ms, most of the time an alarm
// may take to be heard); everything else is the window program's
// (main.cpp), loaded from libdaling-window.so beside this executable. The
// process stays this executable, so what depends on its path (the data
// folder beside it, the window's title, the autostart entry) is unchanged.
#include "emergencyclient.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (emergencyclient::parse(args, ".").wanted)
        return emergencyclient::main(args, false);

    char exe[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string library = n > 0 ? std::string(exe, size_t(n)) : std::string(argv[0]);
    library = library.substr(0, library.rfind('/') + 1) + "libdaling-window.so";
    void *window = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Main = int (*)(int, char **);
    const auto windowMain = window ? reinterpret_cast<Main>(::dlsym(window, "daling_window_main")) : nullptr;
    if (!windowMain) {
        // No window can say it: the terminal or the session's log.
        std::fprintf(stderr, "铃声系统的窗口程序无法加载：%s\n", ::dlerror());
        return 1;
    }
    return windowMain(argc, argv);
}
