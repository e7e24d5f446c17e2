/* The answer of our plug-ins' GetPluginInfo, shared by the C and C++ ones. */
#ifndef KORVALE_SPI_PLUGIN_INFO_H
#define KORVALE_SPI_PLUGIN_INFO_H

#include <stdint.h>
#include <string.h>

/* Copies `text` into the host's buffer of `buflen` bytes, cut to fit with its ending NUL, and
   returns the bytes copied; 0 for no text or no buffer. */
static inline int32_t KorSpiInfoText(const char* text, char* buf, int32_t buflen) {
  size_t n;
  if (!text || !buf || buflen <= 0) return 0;
  n = strlen(text);
  if (n > (size_t)buflen - 1) n = (size_t)buflen - 1;
  memcpy(buf, text, n);
  buf[n] = 0;
  return (int32_t)n;
}

#endif
