// The launcher of a benchmark that measures inside a device tree: a program linked with the
// simulated kernel refuses to start outside one, so this one (which is not) runs it inside a
// fresh tree through korv-sandbox, both found beside it. KORV_BENCH_INSIDE names the program.
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

int main(int argc, char **argv)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        perror("readlink /proc/self/exe");
        return 1;
    }
    self[n] = '\0';
    std::string dir(self, strrchr(self, '/') - self);
    std::string launcher = dir + "/korv-sandbox", inside = dir + "/" KORV_BENCH_INSIDE;
    std::vector<char *> args = {launcher.data(), const_cast<char *>("--fresh"), const_cast<char *>("--bind-ro"),
                                dir.data(), const_cast<char *>("--"), inside.data()};
    for (int i = 1; i < argc; i++)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(launcher.c_str(), args.data());
    perror(launcher.c_str());
    return 1;
}
