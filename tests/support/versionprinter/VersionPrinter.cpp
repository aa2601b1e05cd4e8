// A stand-in for the application's executable in update tests: it writes its version to the file
// named by its first argument (or to standard output), so a test sees which build was started.

#include <cstdio>

int main(int argc, char *argv[])
{
    std::FILE *out = argc > 1 ? std::fopen(argv[1], "w") : stdout;
    if (!out)
        return 1;
    std::fprintf(out, "%s\n", ZQ_PRINTED_VERSION);
    return out == stdout || std::fclose(out) == 0 ? 0 : 1;
}
