#pragma once
// The two screen measures the preview turns widths and heights into pixels with. The grid sets them
// from the display's metrics; the command line keeps the defaults.

namespace tabulon {

struct PreviewScale {
    // Pixels per character of column width (COLINFO and DEFCOLWIDTH count characters). 7 pixels is
    // the digit width of the usual default font at 96 dpi.
    double characterWidth = 7.0;
    // Factor applied to row heights after their twips are divided by 15. Twips / 15 is already a pixel
    // count at 96 dpi, so 1.0 is right there; a display at 144 dpi sets 1.5.
    double pixelsPerPoint = 1.0;
};

// Process-wide values, read by every PreviewWorkbook::Load when it starts. Safe from any thread.
PreviewScale CurrentPreviewScale();
void SetPreviewScale(const PreviewScale& scale);

}  // namespace tabulon
