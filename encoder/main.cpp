#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ENCODING-FILE\n", argv[0]);
        return 2;
    }
    std::fprintf(stderr, "zoveva-encoder: not built yet\n");
    return 1;
}
