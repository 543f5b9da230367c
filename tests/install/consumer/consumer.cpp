// Column sums of a 3 x 2 image through the installed library and its C++ wrapper: (1 2 3 / 4 5 6)
// gives 5 7 9, and a refused call throws kip::Error with the status's name.
#include <kip/kip.hpp>

#include <cstdio>
#include <cstring>
#include <vector>

int main() {
  const unsigned char pels[6] = {1, 2, 3, 4, 5, 6};
  const kip::Image image = kip::Image::wrap(pels, 3, 2, 3);
  const std::vector<uint32_t> sums = kip::columnSums(image);
  bool right = sums == std::vector<uint32_t>{5, 7, 9};
  try {
    kip::rowSums(kip::Image(2, 2, 2));
    right = false;
  } catch (const kip::Error& error) {
    right = right && std::strcmp(error.name(), "KIP_ERR_PEL_SIZE") == 0;
  }
  std::printf("kip %d.%d.%d from C++: %s\n", KIP_VERSION_MAJOR, KIP_VERSION_MINOR, KIP_VERSION_PATCH,
              right ? "ok" : "wrong");
  return right ? 0 : 3;
}
