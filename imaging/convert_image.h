// Picture re-encoding. (Skeleton: the imaging work fills in the contract.)
#pragma once

#include "text/bytes.h"
#include "text/text.h"

namespace pelmora::imaging {

// Formats: 1 BMP, 2 JPEG, 3 GIF, 4 TIFF, 5 PNG.
// Decodes `picture` and encodes it in `format`. A non-blank `path` (GBK) gets
// the format's extension when it lacks it and receives the file. `encoded`
// (may be null) receives the encoded bytes and is left untouched on failure.
// Returns 1 on success, 0 on failure. Safe on many threads at once.
int ConvertImage(const text::Bytes& picture, int format, const text::Text& path,
                 text::Bytes* encoded, bool whiteBackground);

}  // namespace pelmora::imaging
