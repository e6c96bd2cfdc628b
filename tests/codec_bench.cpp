// Converts every image below a folder to JPEG and to WEBP at one quality and reports the
// time and output size per image of each, from the same run on the same images:
//   codec_bench.exe <folder> [quality]
#include "codec.h"
#include "discovery.h"

#include "test_support.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

struct Tally {
    int converted = 0;
    double seconds = 0;
    unsigned long long bytes = 0;
};

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        std::fwprintf(stderr, L"usage: codec_bench <folder> [quality]\n");
        return 2;
    }
    const int quality = argc > 2 ? std::stoi(argv[2]) : 75;
    GdiplusStartupInput input{};
    input.GdiplusVersion = 1;
    ULONG_PTR token = 0;
    if (GdiplusStartup(&token, &input, nullptr) != Ok) return 1;

    TempDir out;
    const std::wstring formats[][2] = {{L"image/jpeg", L"jpeg"}, {L"image/webp", L"webp"}};
    Tally tallies[2];
    int both = 0;
    for (const std::wstring& file : FindImageFiles(argv[1])) {
        // Only images both formats were written for are compared.
        Tally attempt[2];
        bool ok = true;
        for (int f = 0; f < 2 && ok; ++f) {
            const std::wstring output = out / (L"bench." + formats[f][1]);
            double start = Now();
            ok = ConvertImageFile(file, output, formats[f][0], quality);
            attempt[f].seconds = Now() - start;
            attempt[f].bytes = ReadBytes(output).size();
        }
        if (!ok) continue;
        ++both;
        for (int f = 0; f < 2; ++f) {
            tallies[f].seconds += attempt[f].seconds;
            tallies[f].bytes += attempt[f].bytes;
        }
    }
    std::wprintf(L"%d images, quality %d\n", both, quality);
    for (int f = 0; f < 2 && both > 0; ++f)
        std::wprintf(L"%-5ls %8.2f ms/image %10.1f KiB/image %12llu bytes in all\n",
                     formats[f][1].c_str(), 1000 * tallies[f].seconds / both,
                     tallies[f].bytes / 1024.0 / both, tallies[f].bytes);
    GdiplusShutdown(token);
    return 0;
}
