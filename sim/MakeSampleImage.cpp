// tarvex-make-sample-image OUTPUT.dat: writes the default sample firmware image, which the demo
// run and the end-to-end tests send to the virtual device.

#include <cstdio>

#include "sim/SampleImage.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.dat\n",
                     argc > 0 ? argv[0] : "tarvex-make-sample-image");
        return 2;
    }
    const std::filesystem::path output = argv[1];
    if (!tarvex::sim::WriteSampleImage(output, tarvex::sim::SampleImageSpec{})) {
        std::fprintf(stderr, "cannot write the sample image to %s\n", output.string().c_str());
        return 1;
    }
    return 0;
}
