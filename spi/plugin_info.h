/* What our plug-ins share, the C and the C++ ones: the answer of GetPluginInfo and, natively,
   the host's paths turned into the file system's. */
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

#if !defined(_WIN32)
/* Whether `c` begins a double-byte character of CP932, the native build's code page. */
static inline int KorSpiLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

/* The host's paths use "\"; this build's file system wants "/".  The second byte of a
   double-byte character is never a separator.  0 when the path and its NUL do not fit in `cap`
   bytes. */
static inline int KorSpiHostPath(const char* in, char* out, size_t cap) {
  size_t i = 0;
  for (; in[i]; ++i) {
    unsigned char c = (unsigned char)in[i];
    int pair = KorSpiLeadByte(c) && in[i + 1];
    if (i + (pair ? 2 : 1) >= cap) return 0;
    out[i] = (char)(c == '\\' ? '/' : c);
    if (pair) {
      ++i;
      out[i] = in[i];
    }
  }
  if (i >= cap) return 0;
  out[i] = 0;
  return 1;
}
#endif

#endif
