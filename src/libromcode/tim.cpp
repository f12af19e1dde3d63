// The default TIM for the agent image.
#include "libromcode/romcode_tim.h"

#include <cstdlib>
#include <cstring>

namespace {

void put(uint8_t *tim, int offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) tim[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get(const uint8_t *tim, int offset) {
  const uint8_t *p = tim + offset;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr int kImage1 = 56, kImage2 = 116;

}  // namespace

extern "C" uint8_t *generate_default_tim_for_dkb(const uint8_t *, uint32_t size, int,
                                                 uint32_t *ret_size) {
  if (ret_size) *ret_size = MVL_DEFAULT_TIM_SIZE;
  auto *tim = static_cast<uint8_t *>(std::calloc(1, MVL_DEFAULT_TIM_SIZE));
  if (!tim) return nullptr;
  put(tim, 0, MVL_TIM_VERSION);
  put(tim, 4, MVL_TIMH_ID);
  put(tim, 12, MVL_TIM_ISSUEDATE);
  put(tim, 16, MVL_TIM_OEM_UNIQUE_ID);
  for (int off = 20; off <= 36; off += 4) put(tim, off, 0xFFFFFFFFu);
  put(tim, 40, MVL_TIM_BOOT_FLASH_SIGN);
  put(tim, 44, 2);
  put(tim, kImage1 + 0, MVL_TIMH_ID);
  put(tim, kImage1 + 4, MVL_DKBI_ID);
  put(tim, kImage1 + 12, MVL_TIM_LOAD_ADDR);
  put(tim, kImage1 + 16, MVL_DEFAULT_TIM_SIZE);
  put(tim, kImage2 + 0, MVL_DKBI_ID);
  put(tim, kImage2 + 4, MVL_NO_IMAGE_ID);
  put(tim, kImage2 + 8, MVL_DKB_FLASH_ENTRY_ADDR);
  put(tim, kImage2 + 12, MVL_DKB_LOAD_ADDR);
  put(tim, kImage2 + 16, size);
  return tim;
}

extern "C" int mvl_tim_parse(const uint8_t *buf, uint32_t size, mvl_tim *tim,
                             mvl_tim_image images[2]) {
  if (!buf || size < MVL_DEFAULT_TIM_SIZE || !tim || !images) return -1;
  uint32_t *t[] = {&tim->version,        &tim->identifier,      &tim->trusted,
                   &tim->issuedate,      &tim->oem_unique_id,   &tim->wtm_flash_sign,
                   &tim->wtm_entry_addr, &tim->wtm_entry_addr_back, &tim->wtm_patch_sign,
                   &tim->wtm_patch_addr, &tim->boot_flash_sign, &tim->no_of_images,
                   &tim->no_of_keys,     &tim->size_of_reserved};
  for (int i = 0; i < 14; ++i) *t[i] = get(buf, 4 * i);
  for (int n = 0; n < 2; ++n) {
    int base = n == 0 ? kImage1 : kImage2;
    mvl_tim_image &im = images[n];
    uint32_t *f[] = {&im.image_id, &im.next_image_id, &im.flash_entry_addr, &im.load_addr,
                     &im.image_size, &im.image_size_to_hash, &im.hash_algorithm_id};
    for (int i = 0; i < 7; ++i) *f[i] = get(buf, base + 4 * i);
    for (int i = 0; i < 8; ++i) im.hash[i] = get(buf, base + 28 + 4 * i);
  }
  return 0;
}
