// The agent download: handshake, TIM, handshake again, agent image, disconnect.
#include "libromcode/libromcode.h"

#include <cstdio>
#include <cstdlib>

extern "C" {

int init_ack(usb_dev_handle *udev) {
  int r = mvl_romcode_send_premble(udev);
  if (r != 0) {
    std::fprintf(stderr, "Send PREMBLE error: %d\n", r);
    return -1;
  }
  mvl_bootrom_version ver{};
  r = mvl_romcode_get_version(udev, &ver);
  if (r != 0) {
    std::fprintf(stderr, "Get version error: %d\n", r);
    return -1;
  }
  std::printf("Get CPU response\n");
  std::printf("Version: %c%c%c%c\n", ver.version[0], ver.version[1], ver.version[2],
              ver.version[3]);
  std::printf("Date: %08X\n", static_cast<unsigned>(ver.date));
  std::printf("Processor: %c%c%c %02X\n", ver.processor[0], ver.processor[1], ver.processor[2],
              ver.processor[3]);
  std::printf("\n");
  std::fflush(stdout);
  return 0;
}

int download_image(usb_dev_handle *udev, const uint8_t *pbuf, uint32_t size,
                   uint32_t expected_image_id) {
  uint32_t id = 0;
  int r = mvl_romcode_select_image(udev, &id);
  if (r != 0) {
    std::fprintf(stderr, "Select image error: %d\n", r);
    return -1;
  }
  if (id != expected_image_id) {
    std::fprintf(stderr, "Unexpected identifier in select image: %08X %08X\n", id,
                 expected_image_id);
    return -1;
  }
  r = mvl_romcode_verify_image(udev);
  if (r != 0) {
    std::fprintf(stderr, "Verify image error: %d\n", r);
    return -1;
  }
  return mvl_romcode_send_image(udev, pbuf, size);
}

int download_dkb(usb_dev_handle *udev, const uint8_t *pbuf_tim, uint32_t tim_size,
                 const uint8_t *pbuf_dkb, uint32_t dkb_size) {
  int r = init_ack(udev);
  if (r != 0) return r;
  uint8_t *built = nullptr;
  if (!pbuf_tim || tim_size == 0) {
    built = generate_default_tim_for_dkb(pbuf_dkb, dkb_size, 0, &tim_size);
    if (!built) return -1;
    pbuf_tim = built;
  }
  std::printf("file size of dkb:%d, file size of tim:%d\n", static_cast<int>(dkb_size),
              static_cast<int>(tim_size));
  std::fflush(stdout);
  r = download_image(udev, pbuf_tim, tim_size, MVL_TIMH_ID);
  if (r != 0) {
    std::fprintf(stderr, "Error in download tim %d\n", r);
  } else if ((r = init_ack(udev)) != 0) {
    // init_ack has said why
  } else if ((r = download_image(udev, pbuf_dkb, dkb_size, MVL_DKBI_ID)) != 0) {
    std::fprintf(stderr, "Error in download dkb %d\n", r);
  } else if ((r = mvl_romcode_disconnect(udev)) != 0) {
    std::fprintf(stderr, "Error in disconnect\n");
  }
  std::free(built);
  return r;
}

int download_dkb_file(usb_dev_handle *udev, const char *tim_file, const char *image_file) {
  const uint8_t *image = nullptr, *tim = nullptr;
  uint32_t image_size = 0, tim_size = 0;
  int r = memory_map_file_helper(image_file, &image, &image_size);
  if (r != 0) {
    std::fprintf(stderr, "Error in memory map file: %s\n", image_file ? image_file : "(null)");
    return r;
  }
  if (tim_file) {
    r = memory_map_file_helper(tim_file, &tim, &tim_size);
    if (r != 0) {
      std::fprintf(stderr, "Error in memory map file: %s\n", tim_file);
      memory_unmap_file_helper(image, image_size);
      return r;
    }
  }
  r = download_dkb(udev, tim, tim_size, image, image_size);
  memory_unmap_file_helper(tim, tim_size);
  memory_unmap_file_helper(image, image_size);
  return r;
}

}  // extern "C"
