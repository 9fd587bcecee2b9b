// Standalone driver of the profile file fuzz target for g++ builds: runs the target over
// files named on the command line, or with --generate N SEED over N inputs mutated from a
// seed corpus of written profiles (the seed is printed so a run can be replayed).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/profiles/builtin_profiles.h"
#include "app/profiles/profile_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using namespace profiles;

std::vector<std::string> SeedCorpus() {
  std::vector<ProfileSlot> slots(BuiltinProfileCount());
  BuildBuiltinSlots(slots.data(), slots.size());
  std::vector<std::string> seeds;
  std::string all;
  for (const ProfileSlot& s : slots) {
    ProfileRecord r;
    std::memset(&r, 0, sizeof r);
    r.head = s.head;
    r.block = s.block;
    r.head.group = kGroupUser;
    std::snprintf(r.head.name, sizeof r.head.name, "user %u", s.identifier);
    std::snprintf(r.head.description, sizeof r.head.description, "line one\nline <two> & more");
    std::string one;
    AppendProfileBlock(r, one);
    seeds.push_back(one);
    all += one;
  }
  seeds.push_back(all);
  seeds.push_back("\r\n&\r\n<Name>x\r\n<Video Format Class>7\r\n<Description>\r\n&&\r\n&\r\n<Attribute>ffffffff\r\n&&\r\n");
  return seeds;
}

const char* const kDictionary[] = {
    "\n&\n", "\n&&\n", "<Description>\n", "<Video Format Class>", "<Name>", "<Group>2\n",
    "<Attribute>", "<Audio BitRate>", "<Pattern>", "<Frame Rate>", "<Stream Info>", "&lt;",
    "&amp;", "<Width>", "<Format Tag>", "-2147483648", "4294967296", "nan", "1e39", "\r"};

std::string Mutate(std::string s, std::mt19937& rng) {
  const int edits = 1 + rng() % 8;
  for (int e = 0; e < edits; ++e) {
    const size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 6) {
      case 0:
        if (!s.empty() && pos < s.size()) s[pos] = static_cast<char>(rng());
        break;
      case 1: s.insert(pos, kDictionary[rng() % std::size(kDictionary)]); break;
      case 2: s.erase(pos, rng() % 64); break;
      case 3: s.resize(pos); break;
      case 4: {
        const size_t len = rng() % 200;
        s.insert(pos, s.substr(rng() % (s.size() + 1), len));
        break;
      }
      case 5: s.insert(pos, std::string(rng() % 2000, static_cast<char>('a' + rng() % 26))); break;
    }
  }
  return s;
}

int Run(const std::string& input) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--generate") == 0) {
    const long count = std::strtol(argv[2], nullptr, 10);
    const unsigned long seed = std::strtoul(argv[3], nullptr, 10);
    std::printf("profile fuzz: %ld inputs, seed %lu\n", count, seed);
    std::mt19937 rng(static_cast<uint32_t>(seed));
    const std::vector<std::string> seeds = SeedCorpus();
    for (const std::string& s : seeds) Run(s);
    for (long i = 0; i < count; ++i) {
      std::string input = seeds[rng() % seeds.size()];
      // Mutate again a few times so damage piles up.
      for (int round = 1 + rng() % 3; round > 0; --round) input = Mutate(input, rng);
      if (rng() % 16 == 0) {  // random bytes
        input.assign(rng() % 512, '\0');
        for (char& c : input) c = static_cast<char>(rng());
      }
      Run(input);
    }
    std::printf("profile fuzz: done\n");
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    std::ifstream f(argv[i], std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    Run(ss.str());
  }
  return 0;
}
