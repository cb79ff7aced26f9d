// memcpy and memset for the image, where no C library exists but the compiler still emits calls
// to them for structure copies and initializers. Built into the image only; the host has its own.
#include <stddef.h>

extern "C" {

void *memcpy(void *Destination, const void *Source, size_t Length) {
  unsigned char *To = (unsigned char *)Destination;
  const unsigned char *From = (const unsigned char *)Source;
  while (Length-- != 0) {
    *To++ = *From++;
  }
  return Destination;
}

void *memset(void *Destination, int Value, size_t Length) {
  unsigned char *To = (unsigned char *)Destination;
  while (Length-- != 0) {
    *To++ = (unsigned char)Value;
  }
  return Destination;
}
}
