// Checks a recording of the test tone from the command line, for the tests that record with
// programs of their own (the Windows build under Wine):
//   mp3_check FILE SECONDS KBPS
// Passes (status 0) when FILE decodes, sounds for about SECONDS (within 0.3 s: a session
// under Wine takes a moment longer to start), at 440 Hz, without a gap, every frame at KBPS.
// Prints what it measured, and each check that failed.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mp3_probe.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE SECONDS KBPS\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const int kbps = std::atoi(argv[3]);
    const Mp3Probe probe = ProbeMp3File(argv[1]);
    if (!probe.ok) {
        std::printf("%s: %s\n", argv[1], probe.error.c_str());
        return 1;
    }
    const double sounding = SoundingSeconds(probe);
    const bool constant = std::all_of(probe.frames.begin(), probe.frames.end(),
                                      [&](const Mp3Frame& f) { return f.bitrateKbps == kbps; });
    std::printf("%s: %.3f s of sound, %.1f Hz, largest phase jump %.2f samples, %zu frames%s at %d kbps\n",
                argv[1], sounding, probe.dominantHz, probe.maxPhaseJumpSamples, probe.frames.size(),
                constant ? " all" : " NOT all", kbps);
    int failed = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::printf("  failed: %s\n", what);
            ++failed;
        }
    };
    check(std::fabs(sounding - seconds) <= 0.3, "length");
    check(std::fabs(probe.dominantHz - 440.0) <= 3.0, "440 Hz");
    // A lost or repeated piece of a 440 Hz tone moves a zero crossing by up to 1.1 ms.
    check(probe.maxPhaseJumpSamples < std::max(2.0, 0.00075 * probe.sampleRate), "no gap");
    check(!probe.frames.empty() && constant, "constant bit rate");
    return failed == 0 ? 0 : 1;
}
