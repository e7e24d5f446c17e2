// Any graphic as a bitmap of its own size, so that icons and metafiles can be saved as BMP
// files without losing the picture that is shown.
#ifndef KORVALE_PICTURE_RENDER_H
#define KORVALE_PICTURE_RENDER_H

#include <memory>

#include "picture/bitmap.h"
#include "picture/graphic.h"

// A bitmap keeps its own image (the copy shares it); an icon's shown image is composed over
// white into 24 bits; a metafile is played into a white 24-bit picture (natively, where no
// metafile can be played, the picture stays white).  Any other graphic is read back from the
// BMP file image its SaveStream writes, or else becomes a white picture of its size.  An empty
// graphic gives an empty bitmap.
std::unique_ptr<TBitmap> RenderToBitmap(TGraphic& graphic);

// The bits per pixel of the picture a graphic shows: a bitmap's own depth, the shown image's
// depth of an icon, 24 for a metafile (as it is rendered); 0 when empty.
int ShownBitCount(TGraphic& graphic);

#endif
