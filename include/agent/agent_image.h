// The target agent image that the station carries inside its own program (resource "BINARY"
// 153) and sends to every handset, and the check a boot ROM model makes of a received image.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The image's address and size, for g_dkb_buf and g_dkb_size. Returns 0.
int load_flasher_image(unsigned char **buf, int *size);

// The word after the vector table holds the image's own length.
#define AGENT_IMAGE_LENGTH_OFFSET 0x20

// 1 when `image` is a well-formed agent image of exactly `size` bytes: eight ARM vectors first
// (branches or loads of the pc), then its stored length, equal to `size`; else 0.
int agent_image_well_formed(const unsigned char *image, unsigned long size);

#ifdef __cplusplus
}
#endif
