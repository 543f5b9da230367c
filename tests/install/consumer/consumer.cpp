// Column sums of a 3 x 2 image through the installed library: (1 2 3 / 4 5 6) gives 5 7 9.
#include <kip/kip.h>

#include <cstdio>

int main() {
  unsigned char pels[6] = {1, 2, 3, 4, 5, 6};
  kimg_image image, sums;
  kimg_image_constructUnbound(&image);
  kimg_image_constructUnbound(&sums);
  if (kimg_image_bindExternal(&image, pels, 1, 3, 2, 3) != 0) return 1;
  uint32_t pelCount = 0;
  if (kip_projectVertical8(&image, &sums, &pelCount) != 0) return 2;
  const auto* values = static_cast<const uint32_t*>(sums.firstPel);
  const bool right = values[0] == 5 && values[1] == 7 && values[2] == 9 && pelCount == 2;
  std::printf("kip %d.%d.%d: %s\n", KIP_VERSION_MAJOR, KIP_VERSION_MINOR, KIP_VERSION_PATCH, right ? "ok" : "wrong");
  kimg_image_destruct(&sums);
  kimg_image_destruct(&image);
  return right ? 0 : 3;
}
