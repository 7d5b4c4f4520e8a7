// The wheel's and the buttons' properties with the fuzzer choosing the sequences: the first byte
// picks the property, the rest make every choice of its sequence. A broken property aborts. First
// bytes below 224 pick among the first seven by their remainder, as they did before the eighth.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/motion_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  using Property = std::string (*)(Choices&);
  constexpr Property kProperties[] = {
      CheckConservation,     CheckMirror,   CheckEdges,     CheckNothingWithoutTheOperator,
      CheckNoJogLeftRunning, CheckGrouping, CheckStopEndsIt};
  constexpr std::uint8_t kEighth = 7 * 32;
  ByteChoices choices(data + 1, size - 1);
  const Property property =
      data[0] >= kEighth ? CheckRestingDecodes : kProperties[data[0] % std::size(kProperties)];
  const std::string broken = property(choices);
  if (!broken.empty()) {
    std::fprintf(stderr, "motion property broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
