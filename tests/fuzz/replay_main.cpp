// Runs a fuzz target over every file of a corpus folder, so builds without libFuzzer keep the
// saved inputs as regression tests.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int files = 0;
    for (int a = 1; a < argc; a++) {
        DIR *dir = opendir(argv[a]);
        if (!dir) {
            fprintf(stderr, "%s: cannot read the corpus folder\n", argv[a]);
            return 1;
        }
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::string path = std::string(argv[a]) + "/" + entry->d_name;
            FILE *f = fopen(path.c_str(), "rb");
            if (!f) continue;
            std::vector<uint8_t> data;
            uint8_t chunk[4096];
            size_t n;
            while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
            fclose(f);
            LLVMFuzzerTestOneInput(data.data(), data.size());
            files++;
        }
        closedir(dir);
    }
    printf("replayed %d inputs\n", files);
    return 0;
}
