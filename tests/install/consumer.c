/* The same check in C99, built with the flags pkg-config gives: the header must be plain C. */
#include <kip/kip.h>

#include <stdio.h>

int main(void) {
  unsigned char pels[6] = {1, 2, 3, 4, 5, 6};
  kimg_image image;
  kstd_vector32 rows;
  uint32_t pelCount = 0;
  int right;
  kimg_image_constructUnbound(&image);
  kstd_vector32_construct(&rows);
  if (kimg_image_bindExternal(&image, pels, 1, 3, 2, 3) != KIP_OK) return 1;
  if (kip_projectHorizontalVector8(&image, &rows, &pelCount) != KIP_OK) return 2;
  right = rows.size == 2 && rows.begin[0] == 6 && rows.begin[1] == 15 && pelCount == 3;
  printf("kip from C: %s\n", right ? "ok" : "wrong");
  kstd_vector32_destruct(&rows);
  kimg_image_destruct(&image);
  return right ? 0 : 3;
}
