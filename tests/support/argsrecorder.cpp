// A program for the launcher tests: writes how it was started (its path, the number of
// arguments and each argument, every field followed by '|') to the file named by its own path
// plus ".args". A compiled program rather than a script, so that it runs wherever the launcher
// does.
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    const std::string target = std::string(argv[0]) + ".args";
    const std::string partial = target + ".part";
    {
        std::ofstream out(partial, std::ios::binary);
        out << argv[0] << '|' << argc - 1 << '|';
        for (int i = 1; i < argc; ++i) {
            out << argv[i] << '|';
        }
    }
    // Renamed when complete, so that a reader never sees half of it.
    return std::rename(partial.c_str(), target.c_str()) == 0 ? 0 : 1;
}
