// The codec's check entry points run natively over files: one line per
// file with the reply kind and, for each reader kind, the firmware check
// and the decoded values. The browser tests compare it with the same code built to WebAssembly.
#include <cstdio>
#include <cstring>

extern "C" unsigned char *check_io();
extern "C" int check_classify(int count);
extern "C" int check_decode(int kind);

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        unsigned char bytes[64] = {};
        std::FILE *f = std::fopen(argv[i], "rb");
        if (!f)
            return 1;
        int n = static_cast<int>(std::fread(bytes, 1, sizeof bytes, f));
        std::fclose(f);
        std::printf("%s", argv[i]);
        unsigned char *io = check_io();
        std::memset(io, 0, 256);
        std::memcpy(io, bytes, static_cast<size_t>(n));
        std::printf(" %d", check_classify(n));
        unsigned char payload[64];
        std::memcpy(payload, io, sizeof payload);
        for (int kind = 0; kind < 2; ++kind) {
            std::memset(io, 0, 256);
            std::memcpy(io, payload, sizeof payload);
            int fw = check_decode(kind);
            std::printf(" %d:%d,%d,%d,%d", fw, io[0], io[1], io[2], io[3]);
        }
        std::printf("\n");
    }
    return 0;
}
