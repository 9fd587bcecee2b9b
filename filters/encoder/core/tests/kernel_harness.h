// The kernel test harness: replayable random inputs and one check per table entry that
// compares a kernel under test with a reference kernel of the same signature, over random
// and extreme inputs. It serves the portable set against the test's own references, and
// any later set against the portable one (only the entries a feature word changes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filters/encoder/core/kernel_table.h"

namespace ombrisk::kernel_test {

// splitmix64: small, fast, and the same sequence on every platform.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in lo..hi inclusive.
    int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1)); }
    bool Chance(int percent) { return Range(0, 99) < percent; }

private:
    uint64_t state_;
};

// The seed of this run: OMBRISK_KERNEL_SEED when set (to replay), else a fresh one. It is
// printed and recorded in the test's XML output.
uint64_t HarnessSeed();

// Pixel patterns: uniform, extreme (only 0 and 255, the largest differences), flat with a
// little noise.
enum class Pattern { kRandom, kExtreme, kNearFlat };
constexpr Pattern kPatterns[] = {Pattern::kRandom, Pattern::kExtreme, Pattern::kNearFlat};
void FillPixels(Rng& rng, uint8_t* p, size_t n, Pattern pattern);
std::vector<uint8_t> RandomPixels(Rng& rng, size_t n, Pattern pattern);

// One entry of the table: its name, whether two tables differ in it (pointer or any row
// member), and its check of `got` against `want` (gtest failures name the inputs).
struct EntryCheck {
    const char* name;
    bool (*differs)(const CKernelTable& a, const CKernelTable& b);
    void (*check)(const CKernelTable& got, const CKernelTable& want, Rng& rng);
};
const std::vector<EntryCheck>& EntryChecks();

// Every entry of a filled table, and every member of its rows, is set.
bool EveryEntryFilled(const CKernelTable& t, std::string* missing);

}  // namespace ombrisk::kernel_test
